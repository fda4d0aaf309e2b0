#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/payload_format.h"

namespace {

std::string Render(uint32_t mode, const std::vector<uint8_t>& bytes) {
  return FormatPayload(mode, bytes.data(), bytes.size());
}

std::vector<uint8_t> Parse(std::string_view text) {
  std::vector<uint8_t> out(kHexBytesCapacity);
  out.resize(ParseHexText(text, out.data(), out.size()));
  return out;
}

}  // namespace

TEST(DisplayMode, SelectorIndexGivesTheFormatterFlag) {
  EXPECT_EQ(DisplayModeFromIndex(0), 0x0Bu);
  EXPECT_EQ(DisplayModeFromIndex(1), 0x04u);
  EXPECT_EQ(DisplayModeFromIndex(2), 0x0Au);
  EXPECT_EQ(DisplayModeFromIndex(3), 0x05u);
  EXPECT_EQ(DisplayModeFromIndex(4), 0x02u);
  EXPECT_EQ(DisplayModeFromIndex(-1), 0x02u);  // no selection
  EXPECT_STREQ(DisplayModeLabel(0), "All Data");
  EXPECT_STREQ(DisplayModeLabel(4), "Text Only");
}

TEST(TextOnly, FiltersNonPrintableAndEndsWithCrLf) {
  EXPECT_EQ(Render(kDisplayTextOnly, {0x48, 0x00, 0x0A, 0xFF}), "H.\n.\r\n");
  EXPECT_EQ(Render(kDisplayTextOnly, {'a', 'b', 'c', 0x0D, 0x0A}), "abc\r\n\r\n");
  EXPECT_EQ(Render(kDisplayTextOnly, {'\t', 0x7F, 0x1F, 0x80, ' ', '~'}), "\t... ~\r\n");
  EXPECT_EQ(Render(kDisplayTextOnly, {}), "\r\n");
}

TEST(HexLayouts, EmptyPayloadRendersNothing) {
  for (uint32_t mode :
       {kDisplayAllData, kDisplayHexOnly, kDisplayHexAndAddress, kDisplayHexAndText}) {
    EXPECT_EQ(Render(mode, {}), "") << mode;
  }
}

TEST(HexLayouts, ColumnsOfEachMode) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 18; ++i) bytes.push_back(uint8_t(0x41 + i));
  bytes[2] = 0x00;
  const std::string hex16 = "41 42 00 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50";
  EXPECT_EQ(Render(kDisplayHexOnly, bytes), hex16 + "\r\n51 52\r\n");
  EXPECT_EQ(Render(kDisplayHexAndAddress, bytes), "0000  " + hex16 + "\r\n0010  51 52\r\n");
  const std::string pad(14 * 3 + 1, ' ');  // 14 missing bytes and the middle gap
  EXPECT_EQ(Render(kDisplayHexAndText, bytes),
            hex16 + "   AB.DEFGHIJKLMNOP\r\n51 52" + pad + "   QR\r\n");
  EXPECT_EQ(Render(kDisplayAllData, bytes),
            "0000  " + hex16 + "   AB.DEFGHIJKLMNOP\r\n0010  51 52" + pad + "   QR\r\n");
}

TEST(HexLayouts, TextColumnLinesUpOnEveryLine) {
  std::vector<uint8_t> bytes(40, 'x');
  const std::string dump = Render(kDisplayAllData, bytes);
  size_t lineStart = 0;
  std::vector<size_t> textColumns;
  while (lineStart < dump.size()) {
    const size_t end = dump.find("\r\n", lineStart);
    ASSERT_NE(end, std::string::npos);
    textColumns.push_back(dump.find('x', lineStart) - lineStart);
    lineStart = end + 2;
  }
  ASSERT_EQ(textColumns.size(), 3u);
  EXPECT_EQ(textColumns[0], textColumns[2]);
}

TEST(HexText, ReadsAdjacentDigitPairsOnly) {
  EXPECT_EQ(Parse("00 20 33"), (std::vector<uint8_t>{0x00, 0x20, 0x33}));
  EXPECT_EQ(Parse("002033"), (std::vector<uint8_t>{0x00, 0x20, 0x33}));
  EXPECT_EQ(Parse("0x41"), (std::vector<uint8_t>{0x41}));
  EXPECT_EQ(Parse("ABC"), (std::vector<uint8_t>{0xAB}));
  EXPECT_EQ(Parse("1 23"), (std::vector<uint8_t>{0x23}));
  EXPECT_EQ(Parse("ff,Fe"), (std::vector<uint8_t>{0xFF, 0xFE}));
  EXPECT_EQ(Parse("hello"), (std::vector<uint8_t>{}));
  EXPECT_EQ(Parse(""), (std::vector<uint8_t>{}));
}

TEST(HexText, StopsAtTheTextLimitAndTheBufferSize) {
  const std::string longText(3000, 'a');
  EXPECT_EQ(Parse(longText).size(), kHexTextMaxChars / 2);
  uint8_t small[3];
  EXPECT_EQ(ParseHexText("0102030405", small, sizeof small), 3u);
  EXPECT_EQ(small[2], 0x03);
}

TEST(HexText, DigitFunctions) {
  const std::string digits = "0123456789abcdefABCDEF";
  for (char c : digits) EXPECT_EQ(IsHexDigit(c), 1) << c;
  for (char c : std::string("gGxz /:@`\x80")) EXPECT_EQ(IsHexDigit(c), 0) << c;
  EXPECT_EQ(HexDigitValue('0'), 0);
  EXPECT_EQ(HexDigitValue('9'), 9);
  EXPECT_EQ(HexDigitValue('a'), 10);
  EXPECT_EQ(HexDigitValue('F'), 15);
}
