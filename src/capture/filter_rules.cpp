#include "capture/filter_rules.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::string_view kListSeparators = " \t\r\n,";

bool IsListEnd(uint16_t port) {
  return port == 0;
}

bool IsListEnd(const IpAddress& address) {
  return address.isUnspecified();
}

// The members of a list: the entries before the first 0, at most ten.
template <typename T>
std::vector<T> ListMembers(const T (&list)[kFilterListLength]) {
  std::vector<T> members;
  for (int i = 0; i < kFilterListLength && !IsListEnd(list[i]); ++i) members.push_back(list[i]);
  return members;
}

// Whether a packet's (source, destination) pair matches a list in the given mode.
template <typename T>
bool ListMatches(int mode, const T (&list)[kFilterListLength], const T& source,
                 const T& destination) {
  if (mode == 0) return true;
  for (int i = 0; i < kFilterListLength && !IsListEnd(list[i]); ++i) {
    if ((mode == 1 || mode == 2) && list[i] == source) return true;
    if ((mode == 1 || mode == 3) && list[i] == destination) return true;
  }
  return false;
}

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kListSeparators);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kListSeparators);
  return text.substr(first, last - first + 1);
}

const char* ModePrefix(int mode) {
  switch (mode) {
    case 1:
      return "(src/dst) ";
    case 2:
      return "(src) ";
    case 3:
      return "(dst) ";
    default:
      return "";
  }
}

// Ports are held as their two bytes in network order, whatever the host's order.
uint16_t HostPort(uint16_t networkOrder) {
  uint8_t bytes[2];
  std::memcpy(bytes, &networkOrder, 2);
  return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

std::string PortText(uint16_t networkOrder) {
  return std::to_string(HostPort(networkOrder));
}

// One description line's list: the prefix and every member followed by ",", then the trailing
// separators (and the prefix's blank for an empty list) trimmed away.
template <typename T, typename Format>
std::string DescribeList(int mode, const T (&list)[kFilterListLength], const char* anyText,
                         Format format) {
  if (mode == 0) return anyText;
  std::string text = ModePrefix(mode);
  for (const T entry : ListMembers(list)) text += format(entry) + ",";
  const size_t last = text.find_last_not_of(kListSeparators);
  return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

template <typename T, typename Format>
std::string JoinList(const T (&list)[kFilterListLength], Format format) {
  std::string text;
  for (const T entry : ListMembers(list)) text += (text.empty() ? "" : ",") + format(entry);
  return text;
}

// "(a or b or ...)" of one primitive per member, for the list's mode.
template <typename T, typename Format>
std::string ListExpression(int mode, const std::vector<T>& members, const char* either,
                           const char* source, const char* destination, Format format) {
  const char* primitive = mode == 1 ? either : mode == 2 ? source : destination;
  std::string text;
  for (const T& entry : members) {
    text += (text.empty() ? "(" : " or ") + std::string(primitive) + " " + format(entry);
  }
  return text + ")";
}

// The address list's members of one family.
std::vector<IpAddress> AddressesOf(const CaptureFilter& filter, IpAddress::Family family) {
  std::vector<IpAddress> members;
  for (const IpAddress& address : ListMembers(filter.addresses)) {
    if (address.family() == family) members.push_back(address);
  }
  return members;
}

std::string AddressText(const IpAddress& address) {
  return address.text();
}

// The IPv4 packets that decode and pass: a header length of 5 words or more, not a later
// fragment, all of its total length captured (its last byte can be read), a whole TCP or UDP
// header with payload after it, and the lists.
std::string Ipv4Expression(const CaptureFilter& filter) {
  std::string text =
      "ip[0] & 0xf0 = 0x40 and ip[0] & 0xf >= 5 and ip[6:2] & 0x1fff = 0"
      " and (ip[ip[2:2] - 1] | 1) != 0";
  const std::string tcp =
      "(ip[9] = 6 and tcp[12] & 0xf0 >= 0x50"
      " and ip[2:2] > ((ip[0] & 0xf) << 2) + ((tcp[12] & 0xf0) >> 2))";
  const std::string udp = "(ip[9] = 17 and ip[2:2] > ((ip[0] & 0xf) << 2) + 8)";
  if (filter.includeTcp && filter.includeUdp) {
    text += " and (" + tcp + " or " + udp + ")";
  } else {
    text += " and " + (filter.includeTcp ? tcp : udp);
  }
  if (filter.portMode != 0) {
    text += " and " + ListExpression(filter.portMode, ListMembers(filter.ports), "port", "src port",
                                     "dst port", PortText);
  }
  if (filter.addressMode != 0) {
    text +=
        " and " + ListExpression(filter.addressMode, AddressesOf(filter, IpAddress::Family::kIpv4),
                                 "ip host", "ip src", "ip dst", AddressText);
  }
  return text;
}

std::string HexWord(const uint8_t* bytes) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

// The sixteen bytes at `at` (8 the source, 24 the destination) are the address.
std::string Ipv6AddressAt(int at, const IpAddress& address) {
  std::string text;
  for (int word = 0; word < 4; ++word) {
    text += (word == 0 ? "(" : " and ") + std::string("ip6[") + std::to_string(at + 4 * word) +
            ":4] = " + HexWord(address.bytes().data() + 4 * word);
  }
  return text + ")";
}

std::string Ipv6AddressList(int mode, const std::vector<IpAddress>& members) {
  std::string text;
  for (const IpAddress& address : members) {
    if (mode == 1 || mode == 2) text += (text.empty() ? "" : " or ") + Ipv6AddressAt(8, address);
    if (mode == 1 || mode == 3) text += (text.empty() ? "" : " or ") + Ipv6AddressAt(24, address);
  }
  return "(" + text + ")";
}

// A whole TCP or UDP header at `offset` (a number, or an expression of the packet's bytes) with
// payload after it, whose ports pass the port list.
std::string Ipv6Transport(const CaptureFilter& filter, const std::string& type,
                          const std::string& offset) {
  const bool fixed = offset.find_first_not_of("0123456789") == std::string::npos;
  const auto at = [&](int n) {
    return fixed ? std::to_string(std::stoi(offset) + n) : offset + " + " + std::to_string(n);
  };
  const std::string end = "ip6[4:2] + 40";  // from the payload length
  const std::string tcpByte = "ip6[" + at(12) + "]";
  const std::string tcp = "(" + type + " = 6 and " + end + " >= " + at(20) + " and " + tcpByte +
                          " & 0xf0 >= 0x50 and " + end + " > " + at(0) + " + ((" + tcpByte +
                          " & 0xf0) >> 2))";
  const std::string udp = "(" + type + " = 17 and " + end + " > " + at(8) + ")";
  std::string text = filter.includeTcp && filter.includeUdp ? "(" + tcp + " or " + udp + ")"
                     : filter.includeTcp                    ? tcp
                                                            : udp;
  if (filter.portMode != 0) {
    const std::string source = "ip6[" + at(0) + ":2] = ";
    const std::string destination = "ip6[" + at(2) + ":2] = ";
    std::string ports;
    for (const uint16_t port : ListMembers(filter.ports)) {
      const std::string value = PortText(port);
      const int mode = filter.portMode;
      if (mode == 1 || mode == 2) ports += (ports.empty() ? "" : " or ") + source + value;
      if (mode == 1 || mode == 3) ports += (ports.empty() ? "" : " or ") + destination + value;
    }
    text += " and (" + ports + ")";
  }
  return text;
}

// Whether the header type `type` is an extension header the walk goes through.
std::string IsExtension(const std::string& type) {
  return "(" + type + " = 0 or " + type + " = 43 or " + type + " = 44 or " + type + " = 60)";
}

// A transport header right after the fixed header, or behind one extension header: a first
// fragment's behind a fragment header (8 bytes), or behind a hop-by-hop, routing or
// destination-options header (its second byte gives its length, in 8 bytes beyond the first
// 8). The capture library's language has no variables: the offset of a header behind two of
// variable length would have to be written out from the ones before it, doubling the text with
// every header walked. So a packet with a second extension header passes whenever its
// addresses do, and the window judges it; one or none is judged exactly here.
std::string Ipv6Headers(const CaptureFilter& filter) {
  const std::string end = "ip6[4:2] + 40";
  const std::string fragment =
      "ip6[6] = 44 and " + end + " >= 48 and ip6[42:2] & 0xfff8 = 0 and (" +
      Ipv6Transport(filter, "ip6[40]", "48") + " or " + IsExtension("ip6[40]") + ")";
  const std::string behind = "40 + (ip6[41] + 1) * 8";
  const std::string options = "(ip6[6] = 0 or ip6[6] = 43 or ip6[6] = 60) and " + end +
                              " >= 42 and " + end + " >= " + behind + " and (" +
                              Ipv6Transport(filter, "ip6[40]", behind) + " or " +
                              IsExtension("ip6[40]") + ")";
  return "(" + Ipv6Transport(filter, "ip6[6]", "40") + ") or (" + fragment + ") or (" + options +
         ")";
}

// The IPv6 packets that decode and pass: all of the payload length captured, the addresses, and
// the walk to a TCP or UDP header.
std::string Ipv6Expression(const CaptureFilter& filter) {
  std::string text = "ip6[0] & 0xf0 = 0x60 and (ip6[ip6[4:2] + 40 - 1] | 1) != 0";
  if (filter.addressMode != 0) {
    text += " and " +
            Ipv6AddressList(filter.addressMode, AddressesOf(filter, IpAddress::Family::kIpv6));
  }
  return text + " and (" + Ipv6Headers(filter) + ")";
}

}  // namespace

CaptureFilter InitialCaptureFilter() {
  CaptureFilter filter;
  filter.includeTcp = 1;
  filter.includeUdp = 0;
  filter.portMode = 1;
  filter.ports[0] = NetworkPort(80);
  filter.addressMode = 0;
  return filter;
}

int PacketPassesFilter(const CaptureFilter& filter, const CapturedPacket& packet) {
  if (packet.isTcp ? filter.includeTcp == 0 : filter.includeUdp == 0) return 0;
  if (!ListMatches(filter.portMode, filter.ports, packet.sourcePort, packet.destinationPort)) {
    return 0;
  }
  return ListMatches(filter.addressMode, filter.addresses, packet.sourceAddress,
                     packet.destinationAddress)
             ? 1
             : 0;
}

bool FilterDropsEverything(const CaptureFilter& filter) {
  const auto unknown = [](int mode) { return mode < 0 || mode > 3; };  // never matches
  return (filter.includeTcp == 0 && filter.includeUdp == 0) || unknown(filter.portMode) ||
         unknown(filter.addressMode) || (filter.portMode != 0 && filter.ports[0] == 0) ||
         (filter.addressMode != 0 && filter.addresses[0].isUnspecified());
}

std::string DescribeFilterText(const CaptureFilter& filter) {
  std::string text = "Protocols:";
  if (filter.includeTcp) text += " TCP";
  if (filter.includeUdp) text += " UDP";
  if (!filter.includeTcp && !filter.includeUdp) text += " None";
  text += "\r\nPorts: " + DescribeList(filter.portMode, filter.ports, "Allow Any Port", PortText);
  text += "\r\nAddresses: " +
          DescribeList(filter.addressMode, filter.addresses, "Allow Any Address", AddressText);
  return text;
}

std::string FilterPortsText(const CaptureFilter& filter) {
  return JoinList(filter.ports, PortText);
}

std::string FilterAddressesText(const CaptureFilter& filter) {
  return JoinList(filter.addresses, AddressText);
}

std::vector<std::string> FilterListPieces(std::string_view text) {
  std::vector<std::string> pieces;
  text = Trim(text);
  if (text.empty()) return pieces;
  while (pieces.size() < size_t{kFilterListLength}) {
    const size_t comma = text.find(',');
    pieces.emplace_back(Trim(text.substr(0, comma)));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return pieces;
}

uint16_t NetworkPort(uint16_t hostOrder) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(hostOrder >> 8),
                            static_cast<uint8_t>(hostOrder & 0xFF)};
  uint16_t value;
  std::memcpy(&value, bytes, 2);
  return value;
}

uint16_t PortPieceValue(std::string_view piece) {
  uint16_t value = 0;  // arithmetic modulo 2^16 keeps exactly the low 16 bits
  for (const char c : piece) {
    if (c < '0' || c > '9') break;
    value = static_cast<uint16_t>(value * 10 + (c - '0'));
  }
  return value;
}

namespace {

// The frames that decode and pass the filter.
std::string ShownExpression(const CaptureFilter& filter);

std::string ExclusionExpression(const CaptureExclusion& e) {
  const auto way = [](const IpAddress& from, uint16_t fromPort, const IpAddress& to,
                      uint16_t toPort) {
    return "(src host " + from.text() + " and src port " + std::to_string(ntohs(fromPort)) +
           " and dst host " + to.text() + " and dst port " + std::to_string(ntohs(toPort)) + ")";
  };
  return "not (tcp and (" + way(e.addressA, e.portA, e.addressB, e.portB) + " or " +
         way(e.addressB, e.portB, e.addressA, e.portA) + "))";
}

}  // namespace

std::string KernelFilterExpression(const CaptureFilter& filter, const CaptureExclusion& exclusion) {
  const std::string shown = ShownExpression(filter);
  if (!exclusion.active || shown == "len < 0") return shown;
  return "(" + shown + ") and " + ExclusionExpression(exclusion);
}

bool PacketIsExcluded(const CaptureExclusion& e, const CapturedPacket& packet) {
  if (!e.active || !packet.isTcp) return false;
  const auto is = [&](const IpAddress& from, uint16_t fromPort, const IpAddress& to,
                      uint16_t toPort) {
    return packet.sourceAddress == from && packet.sourcePort == fromPort &&
           packet.destinationAddress == to && packet.destinationPort == toPort;
  };
  return is(e.addressA, e.portA, e.addressB, e.portB) ||
         is(e.addressB, e.portB, e.addressA, e.portA);
}

CaptureExclusion ExclusionOfSshConnection(std::string_view value) {
  CaptureExclusion e;
  std::vector<std::string> parts;
  size_t start = 0;
  while (parts.size() < 5 && start <= value.size()) {
    const size_t end = std::min(value.find(' ', start), value.size());
    parts.emplace_back(value.substr(start, end - start));
    start = end + 1;
  }
  if (parts.size() != 4) return e;
  const std::optional<IpAddress> a = ParseIpAddress(parts[0]);
  const std::optional<IpAddress> b = ParseIpAddress(parts[2]);
  const uint16_t portA = PortPieceValue(parts[1]);
  const uint16_t portB = PortPieceValue(parts[3]);
  if (!a || !b || a->isIpv4() != b->isIpv4() || portA == 0 || portB == 0 ||
      parts[1] != std::to_string(portA) || parts[3] != std::to_string(portB)) {
    return e;
  }
  e = {true, *a, NetworkPort(portA), *b, NetworkPort(portB)};
  return e;
}

namespace {

std::string ShownExpression(const CaptureFilter& filter) {
  // Never true (the length is unsigned), in a form the library does not refuse as one that
  // rejects all packets.
  constexpr const char* kNothing = "len < 0";
  if (FilterDropsEverything(filter)) return kNothing;
  // With an address list in use, a family none of whose addresses is listed has no packet to
  // show.
  const bool any = filter.addressMode == 0;
  std::string text;
  if (any || !AddressesOf(filter, IpAddress::Family::kIpv4).empty()) {
    text = "(" + Ipv4Expression(filter) + ")";
  }
  if (any || !AddressesOf(filter, IpAddress::Family::kIpv6).empty()) {
    text += (text.empty() ? "(" : " or (") + Ipv6Expression(filter) + ")";
  }
  return text.empty() ? kNothing : text;
}

}  // namespace
