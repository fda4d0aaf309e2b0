#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ip_address.h"

// The system resolver's configuration, where the default DNS server, the domain and every
// adapter's DNS servers come from.
inline constexpr const char* kResolverConfigPath = "/etc/resolv.conf";
// More than any real configuration holds; the rest of a larger file is not read.
inline constexpr size_t kResolverConfigMaxBytes = 64 * 1024;
// A domain name is at most 255 characters; a longer value is cut there.
inline constexpr size_t kResolverDomainMax = 255;

// A "nameserver" entry: its address, and after an IPv6 one the interface it is reached through,
// as the resolver reads it ("fe80::1%eth0").
struct NameServer {
  IpAddress address;
  std::string zone;  // as written, at most kNameServerZoneMax printable characters; empty for none

  // The address as text, with "%zone" when it has one.
  std::string text() const;
};
inline constexpr size_t kNameServerZoneMax = 15;

// The system resolver uses at most this many name servers, the first it can read.
inline constexpr size_t kResolverMaxNameServers = 3;

// What Pelorin shows of the resolver configuration, read as the system resolver reads it: a
// line that begins with the keyword and a blank; its value after the blanks, up to the next
// blank or the line's end (";" and "#" belong to the value: only a line that starts with one is
// a comment). A "domain" or "search" line without a value is passed over; otherwise the last
// of them holds. A "nameserver" value counts when it is an IPv4 address as a whole, or an IPv6
// address (with or without a "%" scope); after three such lines the rest are passed over.
struct ResolverConfig {
  // The "domain" value, or the first name of the "search" list, of the last such line; empty
  // when there is neither.
  std::string domain;
  // The IPv4 addresses among the name servers the resolver uses, in file order, in network
  // order.
  std::vector<uint32_t> nameServers;
  // The name servers the resolver uses, in file order, whatever their family.
  std::vector<NameServer> allNameServers;
};

ResolverConfig ParseResolverConfig(std::string_view text);

// The first IPv4 name server the resolver uses, in network order, or 0 when there is none.
uint32_t FirstNameServer(std::string_view text);

// The configuration file's first 64 KiB, parsed; nullopt when the file cannot be read.
std::optional<ResolverConfig> ReadResolverConfig(const std::string& path = kResolverConfigPath);

// The first IPv4 name server of the configuration file, or 0 when the file cannot be read or
// names none.
uint32_t GetDefaultDnsServer(const std::string& path = kResolverConfigPath);

// The default DNS server as the DNS pane shows it: the first name server of the configuration
// file whatever its family, or "0.0.0.0" when the file cannot be read or names none.
std::string DefaultDnsServerText(const std::string& path = kResolverConfigPath);
