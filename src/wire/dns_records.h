#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dns/dns_service.h"

// DnsService over the agent's stream. Each operation: its request in kFrameOpen, one reply
// message, then the channel's end.
inline constexpr uint16_t kDnsDefaultServerText = 1;  // nothing -> text
inline constexpr uint16_t kDnsParseIpv6Server = 2;    // text -> DnsIpv6ServerFound
inline constexpr uint16_t kDnsExchangeQuery = 3;      // DnsQuery -> DnsAnswer

// Records of one answer a side takes, at most (the pane keeps 50).
inline constexpr uint32_t kDnsAnswerRecordLimit = 1024;

std::vector<uint8_t> EncodeDnsText(const std::string& text);
std::optional<std::string> DecodeDnsText(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeDnsIpv6Server(const std::optional<DnsIpv6Server>& server);
// The outer optional: whether the record could be read.
std::optional<std::optional<DnsIpv6Server>> DecodeDnsIpv6Server(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeDnsQuery(const DnsQuery& query);
std::optional<DnsQuery> DecodeDnsQuery(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeDnsAnswer(const DnsAnswer& answer);
std::optional<DnsAnswer> DecodeDnsAnswer(const std::vector<uint8_t>& bytes);
