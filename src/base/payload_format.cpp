#include "base/payload_format.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

constexpr size_t kBytesPerLine = 16;

bool IsPrintable(uint8_t b) {
  return b >= 0x20 && b <= 0x7E;
}

void AppendHex(std::string& out, uint8_t b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += kDigits[b >> 4];
  out += kDigits[b & 0x0F];
}

// One dump line: [offset "  "] hex bytes with a gap after the eighth [pad "   " text] CR LF.
void AppendDumpLine(std::string& out, const uint8_t* bytes, size_t count, size_t offset,
                    bool withOffset, bool withText) {
  if (withOffset) {
    char head[32];
    std::snprintf(head, sizeof head, "%04zx  ", offset);
    out += head;
  }
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) out += (i == 8) ? "  " : " ";
    AppendHex(out, bytes[i]);
  }
  if (withText) {
    // Pad a short line so the text column lines up with full lines.
    for (size_t i = count; i < kBytesPerLine; ++i) out += (i == 8) ? "    " : "   ";
    out += "   ";
    for (size_t i = 0; i < count; ++i) out += IsPrintable(bytes[i]) ? char(bytes[i]) : '.';
  }
  out += "\r\n";
}

std::string FormatDump(const uint8_t* bytes, size_t length, bool withOffset, bool withText) {
  std::string out;
  const size_t lines = (length + kBytesPerLine - 1) / kBytesPerLine;
  out.reserve(lines * (kBytesPerLine * 4 + 16));
  for (size_t offset = 0; offset < length; offset += kBytesPerLine) {
    const size_t count = std::min(kBytesPerLine, length - offset);
    AppendDumpLine(out, bytes + offset, count, offset, withOffset, withText);
  }
  return out;
}

std::string FormatText(const uint8_t* bytes, size_t length) {
  std::string out;
  out.reserve(length + 2);
  for (size_t i = 0; i < length; ++i) {
    const uint8_t b = bytes[i];
    const bool kept = IsPrintable(b) || b == '\t' || b == '\n' || b == '\r';
    out += kept ? char(b) : '.';
  }
  out += "\r\n";
  return out;
}

}  // namespace

const char* DisplayModeLabel(int index) {
  static constexpr std::array<const char*, kDisplayModeCount> kLabels = {
      "All Data", "Hex Only", "Hex and Address", "Hex and Text", "Text Only"};
  return (index >= 0 && index < kDisplayModeCount) ? kLabels[size_t(index)] : "";
}

uint32_t DisplayModeFromIndex(int index) {
  switch (index) {
    case 0:
      return kDisplayAllData;
    case 1:
      return kDisplayHexOnly;
    case 2:
      return kDisplayHexAndAddress;
    case 3:
      return kDisplayHexAndText;
    default:
      return kDisplayTextOnly;
  }
}

std::string FormatPayload(uint32_t mode, const uint8_t* bytes, size_t length) {
  if (bytes == nullptr) length = 0;
  switch (mode) {
    case kDisplayAllData:
      return FormatDump(bytes, length, true, true);
    case kDisplayHexOnly:
      return FormatDump(bytes, length, false, false);
    case kDisplayHexAndAddress:
      return FormatDump(bytes, length, true, false);
    case kDisplayHexAndText:
      return FormatDump(bytes, length, false, true);
    default:
      return FormatText(bytes, length);
  }
}

int IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f') ? 1 : 0;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

size_t ParseHexText(std::string_view text, uint8_t* out, size_t capacity) {
  if (text.size() > kHexTextMaxChars) text = text.substr(0, kHexTextMaxChars);
  size_t count = 0;
  size_t i = 0;
  while (i < text.size() && count < capacity) {
    if (!IsHexDigit(text[i])) {
      ++i;
      continue;
    }
    if (i + 1 < text.size() && IsHexDigit(text[i + 1])) {
      out[count++] = uint8_t(HexDigitValue(text[i]) * 16 + HexDigitValue(text[i + 1]));
      i += 2;
    } else {
      ++i;  // a lone digit is dropped
    }
  }
  return count;
}
