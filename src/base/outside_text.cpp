#include "base/outside_text.h"

#include <cstdint>

namespace {

unsigned char Byte(std::string_view s, size_t i) {
  return static_cast<unsigned char>(s[i]);
}

bool IsUtf8(std::string_view s) {
  while (!s.empty()) {
    const size_t n = Utf8SequenceLength(s);
    if (n == 0) return false;
    s.remove_prefix(n);
  }
  return true;
}

// The code point of a well-formed sequence.
uint32_t CodePoint(std::string_view sequence) {
  static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  uint32_t value = Byte(sequence, 0) & kLeadBits[sequence.size()];
  for (size_t i = 1; i < sequence.size(); ++i) value = (value << 6) | (Byte(sequence, i) & 0x3F);
  return value;
}

bool IsControl(uint32_t codePoint) {
  return codePoint < 0x20 || codePoint == 0x7F || (codePoint >= 0x80 && codePoint <= 0x9F) ||
         codePoint == 0x2028 || codePoint == 0x2029;
}

void AppendDecimalEscape(std::string& out, unsigned char b) {
  out += '\\';
  out += char('0' + b / 100);
  out += char('0' + b / 10 % 10);
  out += char('0' + b % 10);
}

void AppendLatin1(std::string& out, unsigned char b) {
  if (b < 0x80) {
    out += char(b);
  } else {
    out += char(0xC0 | (b >> 6));
    out += char(0x80 | (b & 0x3F));
  }
}

void AppendUtf8Piece(std::string& out, std::string_view piece, bool escape) {
  if (!escape) {
    out.append(piece);
    return;
  }
  while (!piece.empty()) {
    const std::string_view character = piece.substr(0, Utf8SequenceLength(piece));
    const uint32_t codePoint = CodePoint(character);
    if (codePoint == '\\') {
      out += "\\\\";
    } else if (IsControl(codePoint)) {
      for (size_t i = 0; i < character.size(); ++i) AppendDecimalEscape(out, Byte(character, i));
    } else {
      out.append(character);
    }
    piece.remove_prefix(character.size());
  }
}

void AppendLatin1Piece(std::string& out, std::string_view piece, bool escape) {
  for (size_t i = 0; i < piece.size(); ++i) {
    const unsigned char b = Byte(piece, i);
    if (escape && b == '\\') {
      out += "\\\\";
    } else if (escape && IsControl(b)) {
      AppendDecimalEscape(out, b);
    } else {
      AppendLatin1(out, b);
    }
  }
}

void AppendPiece(std::string& out, std::string_view piece, bool escape) {
  if (IsUtf8(piece)) {
    AppendUtf8Piece(out, piece, escape);
  } else {
    AppendLatin1Piece(out, piece, escape);
  }
}

// The separator is a byte below 0x80, so it never lies inside a UTF-8 sequence: cutting at it
// cannot break a character apart.
std::string Convert(std::string_view bytes, char separator, bool escape) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (;;) {
    const size_t end = bytes.find(separator);
    AppendPiece(out, bytes.substr(0, end), escape);
    if (end == std::string_view::npos) break;
    AppendPiece(out, bytes.substr(end, 1), escape);
    bytes.remove_prefix(end + 1);
  }
  return out;
}

}  // namespace

size_t Utf8SequenceLength(std::string_view s) {
  if (s.empty()) return 0;
  const unsigned char lead = Byte(s, 0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  if (Byte(s, 1) < low || Byte(s, 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (Byte(s, i) < 0x80 || Byte(s, i) > 0xBF) return 0;
  }
  return length;
}

std::string TextFromOutside(std::string_view bytes, char separator) {
  return Convert(bytes, separator, false);
}

std::string EscapedTextFromOutside(std::string_view bytes, char separator) {
  return Convert(bytes, separator, true);
}

void DropCutCharacter(std::string& text) {
  size_t lead = text.size();
  while (lead > 0 && text.size() - lead < 3 && (Byte(text, lead - 1) & 0xC0) == 0x80) --lead;
  if (lead == 0) return;
  --lead;
  const unsigned char b = Byte(text, lead);
  const size_t needed = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
  if (text.size() - lead < needed) text.resize(lead);
}
