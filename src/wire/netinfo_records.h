#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "netinfo/dhcp_lease.h"
#include "netinfo/netinfo_text.h"

// NetInfoService over the agent's stream. Each operation: its request in kFrameOpen, one reply
// message, then the channel's end. An optional value carries a byte first (0: none).
inline constexpr uint16_t kNetInfoParams = 1;           // nothing -> NetworkParams
inline constexpr uint16_t kNetInfoAdapters = 2;         // nothing -> adapter list
inline constexpr uint16_t kNetInfoDnsServers = 3;       // nothing -> texts
inline constexpr uint16_t kNetInfoDhcpLease = 4;        // AdapterRecord -> DhcpLease
inline constexpr uint16_t kNetInfoStatistics = 5;       // NetInfoStatisticsAsked -> reading
inline constexpr uint16_t kNetInfoEndStatistics = 6;    // nothing -> nothing
inline constexpr uint16_t kNetInfoFlushNeighbours = 7;  // index -> errno

// What a side takes at most: adapters of a host, addresses of one family of an adapter, name
// servers, bytes of a host or domain name, of an interface name and of a server's text.
inline constexpr uint32_t kNetInfoAdapterLimit = 65536;
inline constexpr uint32_t kNetInfoAddressLimit = 65536;
inline constexpr uint32_t kNetInfoServerLimit = 1024;
inline constexpr size_t kNetInfoNameLimit = 1024;
inline constexpr size_t kNetInfoInterfaceNameLimit = 256;
inline constexpr size_t kNetInfoServerTextLimit = 256;

// A statistics reading asked for.
struct NetInfoStatisticsAsked {
  int index = 0;
  std::string name;
};

std::vector<uint8_t> EncodeNetworkParams(const NetworkParams& params);
std::optional<NetworkParams> DecodeNetworkParams(const std::vector<uint8_t>& bytes);

// One adapter (an index above 0, prefix lengths within their family's, IPv6 addresses only
// where IPv6 ones stand).
std::vector<uint8_t> EncodeAdapterRecord(const AdapterRecord& adapter);
std::optional<AdapterRecord> DecodeAdapterRecord(const std::vector<uint8_t>& bytes);

// The outer optionals below: whether the record could be read.
std::vector<uint8_t> EncodeAdapterList(const std::optional<std::vector<AdapterRecord>>& list);
std::optional<std::optional<std::vector<AdapterRecord>>> DecodeAdapterList(
    const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeDnsServerTexts(const std::optional<std::vector<std::string>>& servers);
std::optional<std::optional<std::vector<std::string>>> DecodeDnsServerTexts(
    const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeDhcpLease(const std::optional<DhcpLease>& lease);
std::optional<std::optional<DhcpLease>> DecodeDhcpLease(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeStatisticsAsked(const NetInfoStatisticsAsked& asked);
std::optional<NetInfoStatisticsAsked> DecodeStatisticsAsked(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeInterfaceStatistics(const std::optional<InterfaceStatistics>& reading);
std::optional<std::optional<InterfaceStatistics>> DecodeInterfaceStatistics(
    const std::vector<uint8_t>& bytes);

// A number on its own: the interface to flush (above 0), an errno (0 to 4095).
std::vector<uint8_t> EncodeNetInfoNumber(int value);
std::optional<int> DecodeNetInfoNumber(const std::vector<uint8_t>& bytes, int lowest, int highest);
