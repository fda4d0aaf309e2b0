#include <gtest/gtest.h>

#include <cstring>

#include "base/format_bounded.h"
#include "base/outside_text.h"
#include "base/version_string.h"

TEST(FormatBounded, FitsWhole) {
  char buffer[10];
  EXPECT_EQ(FormatBounded(buffer, sizeof buffer, "%s", "123456789"), kFormatOk);
  EXPECT_STREQ(buffer, "123456789");
}

TEST(FormatBounded, CutsToCapacityLessOneAndTerminates) {
  char buffer[10];
  EXPECT_EQ(FormatBounded(buffer, sizeof buffer, "%s%d", "1234567890", 1),
            kFormatInsufficientBuffer);
  EXPECT_STREQ(buffer, "123456789");
}

TEST(FormatBounded, InvalidCapacityLeavesBufferUntouched) {
  char buffer[4] = {'a', 'b', 'c', '\0'};
  EXPECT_EQ(FormatBounded(buffer, 0, "%d", 5), kFormatInvalidArg);
  EXPECT_EQ(FormatBounded(buffer, size_t(2147483648u), "%d", 5), kFormatInvalidArg);
  EXPECT_STREQ(buffer, "abc");
}

TEST(FormatBounded, FormatLineGivesTheBoundedText) {
  EXPECT_EQ(FormatLine(300, "MX:\t%-3d  %s\r\n", 10, "mail.example.test"),
            "MX:\t10   mail.example.test\r\n");
  EXPECT_EQ(FormatLine(5, "%s", "abcdefgh"), "abcd");
  EXPECT_EQ(FormatLine(0, "%s", "abc"), "");
}

TEST(VersionString, ComesFromTheBuild) {
  EXPECT_STREQ(GetVersionString(), "v1.1.0.0");
}

// What the panes' own tests with real servers do not reach: the rarer control characters, the
// decision per piece, and a cut inside a character.
TEST(TextFromOutside, EscapesEveryControlAndDecidesPerPiece) {
  // U+2028 and U+0085 in a UTF-8 label, 0x85 in a Latin-1 one, DEL, a backslash.
  EXPECT_EQ(EscapedTextFromOutside("a\xE2\x80\xA8z.\xC2\x85.\x85\xE9.\x7F\\", '.'),
            "a\\226\\128\\168z.\\194\\133.\\133\xC3\xA9.\\127\\\\");
  // One Latin-1 line does not turn a UTF-8 one into Latin-1.
  EXPECT_EQ(TextFromOutside("\xC3\xA9\r\n\xE9\r\n", '\n'), "\xC3\xA9\r\n\xC3\xA9\r\n");
  for (const auto& [cut, kept] : {std::pair{"ab\xC3", "ab"}, std::pair{"a\xE2\x82", "a"},
                                  std::pair{"\xE2\x82\xAC", "\xE2\x82\xAC"}, std::pair{"a", "a"}}) {
    std::string text = cut;
    DropCutCharacter(text);
    EXPECT_EQ(text, kept);
  }
}
