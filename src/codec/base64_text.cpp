#include "codec/base64_text.h"

namespace {

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// Line breaks and blanks between the characters are ignored.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

uint64_t Base64TextSize(uint64_t byteCount) {
  const uint64_t lines = (byteCount + kBase64LineBytes - 1) / kBase64LineBytes;
  return (byteCount + 2) / 3 * 4 + 2 * lines;
}

std::optional<std::string> CleanBase64Text(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  size_t padding = 0;
  for (const char c : text) {
    if (IsBlank(c)) continue;
    if (c == '=') {
      if (++padding > 2) return std::nullopt;
    } else if (!IsBase64Char(c) || padding > 0) {
      return std::nullopt;  // a foreign character, or data after the padding
    }
    clean.push_back(c);
  }
  const size_t data = clean.size() - padding;
  // The last group carries 2 or 3 characters of data when it is not full; its padding, if
  // given, must make it whole.
  const size_t tail = data % 4;
  if (tail == 1) return std::nullopt;
  if (padding > 0 && (tail == 0 || tail + padding != 4)) return std::nullopt;
  if (padding == 0 && tail != 0) clean.append(4 - tail, '=');
  return clean;
}

size_t Base64DecodedSize(std::string_view clean) {
  if (clean.size() < 4) return 0;
  size_t size = clean.size() / 4 * 3;
  if (clean[clean.size() - 1] == '=') --size;
  if (clean[clean.size() - 2] == '=') --size;
  return size;
}

void FormatMd5Hex(const Md5Digest& digest, char (&text)[33]) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < digest.size(); ++i) {
    text[2 * i] = kHex[digest[i] >> 4];
    text[2 * i + 1] = kHex[digest[i] & 0x0F];
  }
  text[32] = '\0';
}
