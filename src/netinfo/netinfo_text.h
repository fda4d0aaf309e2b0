#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "netinfo/dhcp_lease.h"
#include "base/ip_address.h"

// The facts and texts of the NetInfo pane, apart from where they come from.

// Capacities of the pane's texts (characters, terminator included).
inline constexpr size_t kNetInfoTextCapacity = 1000;
inline constexpr size_t kStatisticsCapacity = 100;

// Link types of the kernel's interfaces (the ARPHRD_* values), as far as they have a name here.
enum ArphrdType : uint16_t {
  kArphrdEther = 1,
  kArphrdEEther = 2,
  kArphrdIeee802 = 6,
  kArphrdSlip = 256,
  kArphrdCslip = 257,
  kArphrdSlip6 = 258,
  kArphrdCslip6 = 259,
  kArphrdPpp = 512,
  kArphrdLoopback = 772,
  kArphrdFddi = 774,
  kArphrdIeee802Tr = 800,
  kArphrdNone = 0xFFFE,  // no link-layer header: tun, WireGuard
  kArphrdVoid = 0xFFFF,
};

// "Ethernet", "Token Ring", "FDDI", "PPP", "Loopback", "SLIP", "Other" (links without a
// link-layer header) or "Unknown".
const char* AdapterTypeName(uint16_t linkType);

// The interface status numbers, in the order of their names.
enum OperStatus {
  kOperDisabled = 0,
  kOperWanNotConnected = 1,
  kOperDisconnected = 2,
  kOperWanConnecting = 3,
  kOperWanConnected = 4,
  kOperOperational = 5,
  kOperUnknown = -1,
};
const char* OperStatusName(int status);

// The status of an interface from its operstate text (as in /sys/class/net/<if>/operstate) and
// whether it is switched on (IFF_UP): "up" is operational; "down" is disconnected when switched
// on (no carrier) and disabled when switched off; "lowerlayerdown" is disconnected, "notpresent"
// disabled, "dormant" (waiting for authentication or association) connecting; "unknown",
// "testing" and anything else are unknown.
int OperStatusOf(std::string_view operstate, bool adminUp);

// The node type of name resolution, which Linux does not have: always "Unknown".
const char* NodeTypeName(int nodeType);

struct NetworkParams {
  std::string hostName;
  std::string domain;
  bool routing = false;  // IPv4 forwarding
  bool proxy = false;
};

// The network-parameters text; its lines end in a bare "\n". The names are bytes of the
// system's: shown as UTF-8 label by label where valid, else as Latin-1, with their control
// characters in \DDD form, so no name can break the text's lines.
std::string FormatNetworkParams(const NetworkParams& params);

// An IPv6 address of an adapter with its prefix length.
struct AdapterIpv6Address {
  IpAddress address;
  int prefixLength = 0;
};

// One adapter, as the kernel describes it.
struct AdapterRecord {
  int index = 0;
  std::string name;
  uint16_t linkType = 0;
  uint32_t flags = 0;               // IFF_*
  std::array<uint8_t, 6> mac{};     // the first six bytes of the hardware address, zero-filled
  std::vector<uint32_t> addresses;  // its IPv4 addresses in the kernel's order, network order
  int firstPrefixLength = 0;        // of the first address
  uint32_t gateway = 0;             // its default gateway in the main table, 0 when none
  std::vector<AdapterIpv6Address> ipv6Addresses;  // in the kernel's order
  std::optional<IpAddress> ipv6Gateway;           // its IPv6 default gateway in the main table
};

// The mask of a prefix length (0 to 32), in network order.
uint32_t PrefixMask(int prefixLength);

// A time as the standard routine ctime shows it in local time, day of the month with two digits
// ("Sun Dec 06 07:39:44 2026\n"); the empty text without a time or when it cannot be shown.
std::string LeaseTimeText(std::optional<int64_t> secondsSince1970);

// The information text of an adapter: its lines in order, each cut at 999 characters. Without a
// readable resolver configuration (`dnsServers` empty) the DNS lines are left out; a lease time
// that cannot be shown still ends its line. The DNS servers are the resolver configuration's in
// file order, whatever their family, as their texts. After the lease lines come the adapter's
// IPv6 addresses with their prefix lengths (global ones first, then link-local ones, each in the
// kernel's order) and its IPv6 default gateway; nothing for an adapter without IPv6.
std::string FormatAdapterInfo(const AdapterRecord& adapter, const std::optional<DhcpLease>& lease,
                              const std::optional<std::vector<std::string>>& dnsServers);

// One reading of an interface's statistics.
struct InterfaceStatistics {
  int status = kOperUnknown;
  uint64_t speedMbits = 0;  // 0 when the system does not know it
  uint64_t receivedBytes = 0;
  uint64_t sentBytes = 0;
};

struct StatisticsTexts {
  std::string status;
  std::string speed;  // kilobits per second
  std::string received;
  std::string sent;
};

// The four statistics texts; the counters are printed whole and unsigned.
StatisticsTexts FormatStatistics(const InterfaceStatistics& statistics);

// A decimal count as sysfs shows it ("1234\n"); nullopt for anything else (such as "-1").
std::optional<uint64_t> ParseSysfsCount(std::string_view text);
