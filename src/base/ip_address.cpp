#include "base/ip_address.h"

#include <cstdio>
#include <cstring>

#include "base/ipv4_text.h"

namespace {

constexpr int kGroups = 8;

uint16_t GroupAt(const IpAddress::Bytes& bytes, int group) {
  return uint16_t(bytes[size_t(2 * group)] << 8 | bytes[size_t(2 * group + 1)]);
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The longest run of zero groups (the first of equal ones), when it is two groups or longer.
struct ZeroRun {
  int start = -1;
  int length = 0;
};

ZeroRun LongestZeroRun(const IpAddress::Bytes& bytes) {
  ZeroRun best, current;
  for (int i = 0; i < kGroups; ++i) {
    if (GroupAt(bytes, i) != 0) {
      current = ZeroRun{};
      continue;
    }
    if (current.start < 0) current.start = i;
    if (++current.length > best.length) best = current;
  }
  return best.length >= 2 ? best : ZeroRun{};
}

std::string Ipv6Text(const IpAddress::Bytes& bytes) {
  const ZeroRun zeros = LongestZeroRun(bytes);
  // ::a.b.c.d and ::ffff:a.b.c.d keep their IPv4 part dotted.
  const bool ipv4Tail =
      zeros.start == 0 && (zeros.length == 6 || (zeros.length == 5 && GroupAt(bytes, 5) == 0xFFFF));
  std::string text;
  for (int i = 0; i < kGroups; ++i) {
    if (zeros.start >= 0 && i >= zeros.start && i < zeros.start + zeros.length) {
      if (i == zeros.start) text += ':';
      continue;
    }
    if (i != 0) text += ':';
    if (i == 6 && ipv4Tail) {
      uint32_t tail;
      std::memcpy(&tail, bytes.data() + 12, sizeof tail);
      return text + DottedAddress(tail);
    }
    char group[8];
    std::snprintf(group, sizeof group, "%x", GroupAt(bytes, i));
    text += group;
  }
  if (zeros.start >= 0 && zeros.start + zeros.length == kGroups) text += ':';
  return text;
}

}  // namespace

IpAddress IpAddress::Ipv4(uint32_t networkOrder) {
  IpAddress address;
  std::memcpy(address.bytes_.data(), &networkOrder, sizeof networkOrder);
  return address;
}

IpAddress IpAddress::Ipv6(const Bytes& bytes) {
  IpAddress address;
  address.family_ = Family::kIpv6;
  address.bytes_ = bytes;
  return address;
}

IpAddress IpAddress::Ipv6(const uint8_t* bytes) {
  Bytes copy;
  std::memcpy(copy.data(), bytes, copy.size());
  return Ipv6(copy);
}

uint32_t IpAddress::ipv4() const {
  uint32_t value = 0;
  if (isIpv4()) std::memcpy(&value, bytes_.data(), sizeof value);
  return value;
}

bool IpAddress::isUnspecified() const {
  return bytes_ == Bytes{};
}

bool IpAddress::isLoopback() const {
  if (isIpv4()) return bytes_[0] == 127;
  Bytes one{};
  one[15] = 1;
  return bytes_ == one;
}

bool IpAddress::isMulticast() const {
  return isIpv4() ? (bytes_[0] & 0xF0) == 0xE0 : bytes_[0] == 0xFF;
}

bool IpAddress::isLinkLocal() const {
  return isIpv6() && bytes_[0] == 0xFE && (bytes_[1] & 0xC0) == 0x80;
}

bool IpAddress::isIpv4Mapped() const {
  static constexpr uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return isIpv6() && std::memcmp(bytes_.data(), kPrefix, sizeof kPrefix) == 0;
}

std::string IpAddress::text() const {
  return isIpv4() ? DottedAddress(ipv4()) : Ipv6Text(bytes_);
}

std::string EndpointText(const IpAddress& address, uint16_t port) {
  const std::string portText = ":" + std::to_string(port);
  return address.isIpv4() ? address.text() + portText : "[" + address.text() + "]" + portText;
}

std::optional<IpAddress> ParseIpv4Address(std::string_view text) {
  uint8_t octets[4] = {};
  int count = 0;
  size_t at = 0;
  while (count < 4) {
    // One decimal number: one to three digits, no leading zero, at most 255.
    int value = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      value = value * 10 + (text[at] - '0');
      ++digits;
      ++at;
    }
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[at - digits] == '0')) {
      return std::nullopt;
    }
    octets[count++] = uint8_t(value);
    if (count < 4) {
      if (at >= text.size() || text[at] != '.') return std::nullopt;
      ++at;
    }
  }
  if (at != text.size()) return std::nullopt;
  uint32_t value;
  std::memcpy(&value, octets, sizeof value);
  return IpAddress::Ipv4(value);
}

std::optional<IpAddress> ParseIpv6Address(std::string_view text) {
  IpAddress::Bytes bytes{};
  size_t filled = 0;  // bytes written so far
  int gap = -1;       // where "::" stands, in bytes
  size_t at = 0;
  if (text.empty()) return std::nullopt;
  if (text[0] == ':') {  // only as the start of "::"
    if (text.size() < 2 || text[1] != ':') return std::nullopt;
    gap = 0;
    at = 2;
  }
  while (at < text.size()) {
    // One group of hex digits, or a dotted quad for the last 32 bits.
    const size_t start = at;
    unsigned value = 0;
    while (at < text.size() && at - start < 5 && HexDigitValue(text[at]) >= 0) {
      value = value << 4 | unsigned(HexDigitValue(text[at]));
      ++at;
    }
    if (at < text.size() && text[at] == '.') {
      const std::optional<IpAddress> tail = ParseIpv4Address(text.substr(start));
      if (!tail || filled + 4 > bytes.size()) return std::nullopt;
      std::memcpy(bytes.data() + filled, tail->bytes().data(), 4);
      filled += 4;
      at = text.size();
      break;
    }
    const size_t digits = at - start;
    if (digits == 0 || digits > 4 || filled + 2 > bytes.size()) return std::nullopt;
    bytes[filled++] = uint8_t(value >> 8);
    bytes[filled++] = uint8_t(value);
    if (at == text.size()) break;
    if (text[at] != ':') return std::nullopt;
    ++at;
    if (at < text.size() && text[at] == ':') {  // "::"
      if (gap >= 0) return std::nullopt;
      gap = int(filled);
      ++at;
    } else if (at == text.size()) {
      return std::nullopt;  // a lone ':' at the end
    }
  }
  if (gap >= 0) {
    if (filled == bytes.size()) return std::nullopt;  // "::" must stand for a group at least
    const size_t after = filled - size_t(gap);
    std::memmove(bytes.data() + bytes.size() - after, bytes.data() + gap, after);
    std::memset(bytes.data() + gap, 0, bytes.size() - after - size_t(gap));
    filled = bytes.size();
  }
  if (filled != bytes.size()) return std::nullopt;
  return IpAddress::Ipv6(bytes);
}

std::optional<IpAddress> ParseIpAddress(std::string_view text) {
  if (std::optional<IpAddress> v4 = ParseIpv4Address(text)) return v4;
  return ParseIpv6Address(text);
}
