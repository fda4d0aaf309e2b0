#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// An IPv4 or an IPv6 address: the one address type of every module that meets both families.
// IPv4 keeps the network-order value the described functions take; IPv6 its sixteen bytes in
// network order. Addresses order IPv4 before IPv6, each family by its numeric value (an
// IPv4-mapped IPv6 address is IPv6 there, by its 128-bit value).
class IpAddress {
 public:
  enum class Family : uint8_t { kIpv4, kIpv6 };
  using Bytes = std::array<uint8_t, 16>;

  // 0.0.0.0.
  IpAddress() = default;
  static IpAddress Ipv4(uint32_t networkOrder);
  static IpAddress Ipv6(const Bytes& bytes);
  // Sixteen bytes in network order, as the kernel's records carry them.
  static IpAddress Ipv6(const uint8_t* bytes);

  Family family() const { return family_; }
  bool isIpv4() const { return family_ == Family::kIpv4; }
  bool isIpv6() const { return family_ == Family::kIpv6; }
  // The IPv4 value in network order; 0 for an IPv6 address.
  uint32_t ipv4() const;
  // The IPv6 bytes; an IPv4 address has its four bytes first and zeros after them.
  const Bytes& bytes() const { return bytes_; }

  // 0.0.0.0 or ::.
  bool isUnspecified() const;
  // 127.0.0.0/8 or ::1.
  bool isLoopback() const;
  // 224.0.0.0/4 or ff00::/8.
  bool isMulticast() const;
  // fe80::/10: usable only together with an interface.
  bool isLinkLocal() const;
  // ::ffff:0:0/96, an IPv4 peer of an IPv6 socket.
  bool isIpv4Mapped() const;

  // Dotted decimal for IPv4; for IPv6 the RFC 5952 text as the C library's inet_ntop writes it
  // (lowercase, the longest run of zero groups as "::", an IPv4-mapped or IPv4-compatible tail
  // as a dotted quad).
  std::string text() const;

  friend auto operator<=>(const IpAddress&, const IpAddress&) = default;

 private:
  Family family_ = Family::kIpv4;
  Bytes bytes_{};
};

// An address with a port (host byte order), as a peer or an endpoint is shown: "a.b.c.d:port"
// for IPv4, "[addr]:port" for IPv6.
std::string EndpointText(const IpAddress& address, uint16_t port);

// An IPv6 address as inet_pton reads it: eight groups of one to four hex digits, one "::" for
// a run of zero groups, and a dotted quad (decimal, no leading zeros) for the last two groups.
// Nothing else: no blanks, no zone, no prefix length.
std::optional<IpAddress> ParseIpv6Address(std::string_view text);

// A strict dotted quad (four decimal numbers up to 255, no leading zeros), as inet_pton reads it.
std::optional<IpAddress> ParseIpv4Address(std::string_view text);

// Either of the two.
std::optional<IpAddress> ParseIpAddress(std::string_view text);
