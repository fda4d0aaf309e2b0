#include "sockets/terminal_input.h"

#include "base/payload_format.h"

uint16_t PortFromText(std::string_view text) {
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + uint64_t(c - '0');
    if (value > UINT32_MAX) return 0;
  }
  return uint16_t(value & 0xFFFF);
}

std::optional<std::vector<uint8_t>> SendDataFromText(std::string_view text, bool hex) {
  if (!hex) return std::vector<uint8_t>(text.begin(), text.end());
  std::vector<uint8_t> bytes(kHexBytesCapacity);
  const size_t count = ParseHexText(text, bytes.data(), bytes.size());
  if (count == 0) return std::nullopt;
  bytes.resize(count);
  return bytes;
}
