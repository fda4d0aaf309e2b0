#pragma once

#include <optional>
#include <string>

#include "base/ip_address.h"
#include "base/ipv4_text.h"
#include "dns/dns_message.h"

// The query modes of the DNS pane, in list order; index 0 asks the system resolver.
inline constexpr int kDnsModeCount = 9;
inline constexpr int kNormalResolveMode = 0;
const char* DnsModeLabel(int index);
// QTYPE of a record mode (1 to 8); 0 for Normal Resolve and any other index.
uint16_t DnsQueryTypeOfMode(int index);

// The name a question of this type asks for the typed host: a PTR question for an IPv6 address
// asks for its ip6.arpa name (its 32 hex digits in reverse order, one label each); any other
// question asks for the host as typed.
std::string DnsQueryName(uint16_t type, const std::string& host);

// The display text of one record, or nothing for a type without a format. SOA numbers show as
// signed decimals; the TTL is never shown. Names and strings are text from outside: UTF-8 label
// by label where valid, else Latin-1, control characters in \DDD form.
std::optional<std::string> FormatDnsRecord(const DnsRecord& record);

// The three sections under their headings, each followed by a blank line, with the text of
// every record of that section in reply order (at most `count` records of the array).
std::string FormatDnsSections(const DnsRecord* records, int count);
