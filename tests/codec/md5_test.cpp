#include <gtest/gtest.h>

#include <string>

#include "codec/base64_text.h"
#include "codec/crypto.h"

namespace {

std::string HexOf(Md5Hasher& hasher) {
  Md5Digest digest{};
  if (!hasher.finish(digest)) return "failed";
  char text[33];
  FormatMd5Hex(digest, text);
  return text;
}

std::string Md5(std::string_view s) {
  Md5Hasher hasher;
  hasher.update(s.data(), s.size());
  return HexOf(hasher);
}

}  // namespace

TEST(Md5, TestSuiteOfTheRfc) {
  EXPECT_EQ(Md5(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                "7890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}
