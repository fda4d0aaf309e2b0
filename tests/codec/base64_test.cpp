#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/base64_text.h"
#include "codec/crypto.h"

namespace {

std::vector<uint8_t> Bytes(std::string_view s) {
  return {s.begin(), s.end()};
}

std::string Encode(const std::vector<uint8_t>& bytes) {
  Base64Encoder encoder;
  encoder.update(bytes.data(), bytes.size());
  encoder.finish();
  return std::string(encoder.text());
}

// Cleans and decodes as the pane does; nothing for text that is not Base64.
std::optional<std::vector<uint8_t>> Decode(std::string_view text) {
  const std::optional<std::string> clean = CleanBase64Text(text);
  if (!clean) return std::nullopt;
  std::vector<uint8_t> bytes;
  if (!Base64Decode(*clean, bytes)) return std::nullopt;
  return bytes;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = uint8_t(gen());
  return bytes;
}

}  // namespace

TEST(Base64Encoding, KnownTextsInLinesEndingInCrLf) {
  EXPECT_EQ(Encode({}), "");
  EXPECT_EQ(Encode(Bytes("abc")), "YWJj\r\n");
  // The RFC's vectors: padding for one and two bytes left over.
  EXPECT_EQ(Encode(Bytes("f")), "Zg==\r\n");
  EXPECT_EQ(Encode(Bytes("fo")), "Zm8=\r\n");
  EXPECT_EQ(Encode(Bytes("foob")), "Zm9vYg==\r\n");
  EXPECT_EQ(Encode(Bytes("foobar")), "Zm9vYmFy\r\n");
  EXPECT_EQ(Encode({0xFB, 0xFF, 0xBF}), "+/+/\r\n");  // the last two letters of the alphabet
}

TEST(Base64Encoding, BreaksLinesAfter64Characters) {
  const std::string line48(48, 'a');
  const std::string quad = "YWFh";  // "aaa"
  std::string full;
  for (int i = 0; i < 16; ++i) full += quad;
  EXPECT_EQ(Encode(Bytes(line48)), full + "\r\n");
  EXPECT_EQ(Encode(Bytes(line48 + "a")), full + "\r\nYQ==\r\n");  // 49 bytes: two lines
  EXPECT_EQ(Encode(Bytes(line48 + line48)), full + "\r\n" + full + "\r\n");
}

TEST(Base64Encoding, SizeMatchesTheText) {
  for (size_t n = 0; n <= 200; ++n) {
    EXPECT_EQ(Encode(RandomBytes(n, unsigned(n))).size(), Base64TextSize(n)) << n;
  }
}

TEST(Base64Encoding, PiecesOfAnySizeGiveTheSameText) {
  const std::vector<uint8_t> bytes = RandomBytes(5000, 7);
  const std::string whole = Encode(bytes);
  std::mt19937 gen(11);
  for (int round = 0; round < 50; ++round) {
    Base64Encoder encoder;
    size_t at = 0;
    while (at < bytes.size()) {
      const size_t n = std::min(bytes.size() - at, size_t(gen() % 130));
      encoder.update(bytes.data() + at, n);
      at += n;
    }
    encoder.finish();
    ASSERT_EQ(encoder.text(), whole) << round;
  }
}

TEST(Base64Decoding, AcceptsLinesBlanksAndMissingPadding) {
  EXPECT_EQ(Decode("YWJj\r\n"), Bytes("abc"));
  EXPECT_EQ(Decode("  Y W\tJ j \n"), Bytes("abc"));
  EXPECT_EQ(Decode("Zg=="), Bytes("f"));
  EXPECT_EQ(Decode("Zg"), Bytes("f"));
  EXPECT_EQ(Decode("Zm8"), Bytes("fo"));
  EXPECT_EQ(Decode("Zm9v\r\nYg=\r\n="), Bytes("foob"));  // padding split by a line break
  EXPECT_EQ(Decode("+/+/"), std::vector<uint8_t>({0xFB, 0xFF, 0xBF}));
  EXPECT_EQ(Decode(" \r\n\t"), std::vector<uint8_t>());  // blanks only: valid, no bytes
}

TEST(Base64Decoding, RefusesTextThatIsNotBase64) {
  for (const char* text : {"YWJ$", "YW-j", "YWJj=", "YWJjZ", "Zg===", "Z===", "=",
                           "====", "Zg==Zg==", "YW=j", "Zm8=\r\nZg", "\xC3\xA9"}) {
    EXPECT_FALSE(Decode(text).has_value()) << text;
  }
  EXPECT_FALSE(Decode(std::string_view("YW\0j", 4)).has_value());
}

TEST(Base64Decoding, RoundTripsEveryByteValueAndLength) {
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[size_t(i)] = uint8_t(i);
  EXPECT_EQ(Decode(Encode(all)), all);
  for (size_t n = 0; n <= 300; ++n) {
    const std::vector<uint8_t> bytes = RandomBytes(n, unsigned(n) + 1000);
    ASSERT_EQ(Decode(Encode(bytes)), bytes) << n;
  }
}

TEST(Base64Decoding, LongTextDecodesAcrossTheLibrarysPieces) {
  // More than one piece of text per library call, ending in padding.
  const std::vector<uint8_t> bytes = RandomBytes((3u << 20) / 4 * 3 + 1, 3);
  EXPECT_EQ(Decode(Encode(bytes)), bytes);
}
