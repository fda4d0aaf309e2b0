#include <gtest/gtest.h>

#include <cstring>

#include "shell/format_bounded.h"
#include "shell/version_string.h"

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
