#include "netinfo/netinfo_text.h"

#include <charconv>
#include <cstring>
#include <ctime>

#include "base/format_bounded.h"
#include "base/ipv4_text.h"
#include "base/outside_text.h"

const char* AdapterTypeName(uint16_t linkType) {
  switch (linkType) {
    case kArphrdEther:
    case kArphrdEEther:
      return "Ethernet";
    case kArphrdIeee802:
    case kArphrdIeee802Tr:
      return "Token Ring";
    case kArphrdFddi:
      return "FDDI";
    case kArphrdPpp:
      return "PPP";
    case kArphrdLoopback:
      return "Loopback";
    case kArphrdSlip:
    case kArphrdCslip:
    case kArphrdSlip6:
    case kArphrdCslip6:
      return "SLIP";
    case kArphrdNone:
    case kArphrdVoid:
      return "Other";
    default:
      return "Unknown";
  }
}

const char* OperStatusName(int status) {
  switch (status) {
    case kOperDisabled:
      return "Disabled";
    case kOperWanNotConnected:
      return "WAN Not Connected";
    case kOperDisconnected:
      return "Disconnected";
    case kOperWanConnecting:
      return "WAN Connecting";
    case kOperWanConnected:
      return "WAN Connected";
    case kOperOperational:
      return "Operational";
    default:
      return "Unknown";
  }
}

int OperStatusOf(std::string_view operstate, bool adminUp) {
  if (operstate == "up") return kOperOperational;
  if (operstate == "down") return adminUp ? kOperDisconnected : kOperDisabled;
  if (operstate == "lowerlayerdown") return kOperDisconnected;
  if (operstate == "notpresent") return kOperDisabled;
  if (operstate == "dormant") return kOperWanConnecting;
  return kOperUnknown;
}

const char* NodeTypeName(int) {
  return "Unknown";
}

std::string FormatNetworkParams(const NetworkParams& params) {
  const std::string host = EscapedTextFromOutside(params.hostName, '.');
  const std::string domain = EscapedTextFromOutside(params.domain, '.');
  std::string text = FormatLine(kNetInfoTextCapacity,
                                "Host Name\t\t: %s\nDomain\t\t\t: %s\nNode Type\t\t: %s\n"
                                "IP Routing Enabled\t: %s\nWins Proxy Enabled\t: %s\n",
                                host.c_str(), domain.c_str(), NodeTypeName(0),
                                params.routing ? "YES" : "NO", params.proxy ? "YES" : "NO");
  DropCutCharacter(text);
  return text;
}

uint32_t PrefixMask(int prefixLength) {
  if (prefixLength <= 0) return 0;
  const uint32_t host = prefixLength >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefixLength);
  const uint8_t bytes[4] = {uint8_t(host >> 24), uint8_t(host >> 16), uint8_t(host >> 8),
                            uint8_t(host)};
  uint32_t mask;
  std::memcpy(&mask, bytes, sizeof mask);
  return mask;
}

std::string LeaseTimeText(std::optional<int64_t> secondsSince1970) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (!secondsSince1970 || *secondsSince1970 < 0) return {};
  const time_t seconds = time_t(*secondsSince1970);
  tzset();  // the zone of now, as ctime takes it
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return {};
  const int year = local.tm_year + 1900;
  if (year > 9999 || local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 ||
      local.tm_mon > 11) {
    return {};
  }
  return FormatLine(kNetInfoTextCapacity, "%s %s %02d %02d:%02d:%02d %d\n", kDays[local.tm_wday],
                    kMonths[local.tm_mon], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                    year);
}

namespace {

// An address as the pane shows it: dotted, or the empty text when there is none.
std::string AddressText(uint32_t address) {
  return address != 0 ? DottedAddress(address) : std::string();
}

// A lease time's line: ends even when the time cannot be shown, so the next line keeps its own.
std::string LeaseLine(const char* label, std::optional<int64_t> time) {
  const std::string text = LeaseTimeText(time);
  return FormatLine(kNetInfoTextCapacity, "%s\t: %s", label, text.empty() ? "\n" : text.c_str());
}

// The IPv6 lines: the addresses, global ones before link-local ones, then the gateway.
std::string Ipv6Lines(const AdapterRecord& adapter) {
  std::string text;
  for (const bool linkLocal : {false, true}) {
    for (const AdapterIpv6Address& a : adapter.ipv6Addresses) {
      if (a.address.isLinkLocal() != linkLocal) continue;
      text += FormatLine(kNetInfoTextCapacity, "IPv6 Address\t: %s/%d\r\n",
                         a.address.text().c_str(), a.prefixLength);
    }
  }
  if (adapter.ipv6Gateway) {
    text += FormatLine(kNetInfoTextCapacity, "IPv6 Gateway\t: %s\r\n",
                       adapter.ipv6Gateway->text().c_str());
  }
  return text;
}

}  // namespace

std::string FormatAdapterInfo(const AdapterRecord& adapter, const std::optional<DhcpLease>& lease,
                              const std::optional<std::vector<std::string>>& dnsServers) {
  constexpr size_t kCap = kNetInfoTextCapacity;
  const std::array<uint8_t, 6>& m = adapter.mac;
  const bool hasAddress = !adapter.addresses.empty();
  const std::string address = hasAddress ? DottedAddress(adapter.addresses.front()) : "";
  const std::string mask = hasAddress ? DottedAddress(PrefixMask(adapter.firstPrefixLength)) : "";
  std::string text;
  text += FormatLine(kCap, "Adapter Index\t: %d\r\n", adapter.index);
  text += FormatLine(kCap, "Description\t: %s\r\n", adapter.name.c_str());
  text += FormatLine(kCap, "MAC Address\t: %.2X-%.2x-%.2X-%.2X-%.2X-%.2X\r\n", m[0], m[1], m[2],
                     m[3], m[4], m[5]);
  text += FormatLine(kCap, "DHCP Enabled\t: %s\r\n", lease ? "YES" : "NO");
  text += FormatLine(kCap, "Adapter Type\t: %s\r\n", AdapterTypeName(adapter.linkType));
  text += FormatLine(kCap, "IP Address\t: %s\r\n", address.c_str());
  text += FormatLine(kCap, "Subnet Mask\t: %s\r\n", mask.c_str());
  text += FormatLine(kCap, "Default Gateway\t: %s\r\n", AddressText(adapter.gateway).c_str());
  text += FormatLine(kCap, "DHCP Server\t: %s\r\n", AddressText(lease ? lease->server : 0).c_str());
  if (dnsServers) {
    const std::vector<std::string>& servers = *dnsServers;
    text += FormatLine(kCap, "Preferred DNS\t: %s\r\n", servers.empty() ? "" : servers[0].c_str());
    if (servers.size() > 1) {
      text += FormatLine(kCap, "Alternate DNS\t: %s\r\n", servers[1].c_str());
    } else {
      text += "Alternate DNS\t: \r\n";
    }
  }
  text += LeaseLine("Lease Obtained", lease ? lease->obtained : std::nullopt);
  text += LeaseLine("Lease Expires", lease ? lease->expires : std::nullopt);
  return text + Ipv6Lines(adapter);
}

StatisticsTexts FormatStatistics(const InterfaceStatistics& statistics) {
  using ull = unsigned long long;
  StatisticsTexts texts;
  texts.status = OperStatusName(statistics.status);
  texts.speed = FormatLine(kStatisticsCapacity, "%llu Kbs ", ull(statistics.speedMbits * 1000));
  texts.received = FormatLine(kStatisticsCapacity, "%llu Bytes ", ull(statistics.receivedBytes));
  texts.sent = FormatLine(kStatisticsCapacity, "%llu Bytes ", ull(statistics.sentBytes));
  return texts;
}

std::optional<uint64_t> ParseSysfsCount(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}
