#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The system resolver's configuration, where the default DNS server comes from.
inline constexpr const char* kResolverConfigPath = "/etc/resolv.conf";
// More than any real configuration holds; the rest of a larger file is not read.
inline constexpr size_t kResolverConfigMaxBytes = 64 * 1024;

// The first IPv4 "nameserver" of resolver configuration text, in network order, or 0 when there
// is none. Lines are read as the system resolver reads them: the keyword at the start of a line,
// then blanks, then the address up to a blank, "#" or ";"; IPv6 and unreadable entries are
// passed over.
uint32_t FirstNameServer(std::string_view text);

// The default DNS server: the first IPv4 name server of the configuration file, or 0 when the
// file cannot be read or names none.
uint32_t GetDefaultDnsServer(const std::string& path = kResolverConfigPath);
