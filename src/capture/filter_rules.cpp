#include "capture/filter_rules.h"

#include <cstring>
#include <string>

#include "shell/ipv4_text.h"

namespace {

constexpr std::string_view kListSeparators = " \t\r\n,";

// The members of a list: the entries before the first 0, at most ten.
template <typename T>
std::vector<T> ListMembers(const T (&list)[kFilterListLength]) {
  std::vector<T> members;
  for (int i = 0; i < kFilterListLength && list[i] != 0; ++i) members.push_back(list[i]);
  return members;
}

// Whether a packet's (source, destination) pair matches a list in the given mode.
template <typename T>
bool ListMatches(int mode, const T (&list)[kFilterListLength], T source, T destination) {
  if (mode == 0) return true;
  for (const T entry : ListMembers(list)) {
    if ((mode == 1 || mode == 2) && entry == source) return true;
    if ((mode == 1 || mode == 3) && entry == destination) return true;
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
std::string ListExpression(int mode, const T (&list)[kFilterListLength], const char* either,
                           const char* source, const char* destination, Format format) {
  const char* primitive = mode == 1 ? either : mode == 2 ? source : destination;
  std::string text;
  for (const T entry : ListMembers(list)) {
    text += (text.empty() ? "(" : " or ") + std::string(primitive) + " " + format(entry);
  }
  return text + ")";
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
         (filter.addressMode != 0 && filter.addresses[0] == 0);
}

std::string DescribeFilterText(const CaptureFilter& filter) {
  std::string text = "Protocols:";
  if (filter.includeTcp) text += " TCP";
  if (filter.includeUdp) text += " UDP";
  if (!filter.includeTcp && !filter.includeUdp) text += " None";
  text += "\r\nPorts: " + DescribeList(filter.portMode, filter.ports, "Allow Any Port", PortText);
  text += "\r\nAddresses: " +
          DescribeList(filter.addressMode, filter.addresses, "Allow Any Address", DottedAddress);
  return text;
}

std::string FilterPortsText(const CaptureFilter& filter) {
  return JoinList(filter.ports, PortText);
}

std::string FilterAddressesText(const CaptureFilter& filter) {
  return JoinList(filter.addresses, DottedAddress);
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

std::string KernelFilterExpression(const CaptureFilter& filter) {
  // Never true (the length is unsigned), in a form the library does not refuse as one that
  // rejects all packets.
  if (FilterDropsEverything(filter)) return "len < 0";

  // The packet decodes: IPv4 with a header length of 5 words or more, not a later fragment,
  // and all of its total length captured (its last byte can be read).
  std::string text =
      "ip[0] & 0xf0 = 0x40 and ip[0] & 0xf >= 5 and ip[6:2] & 0x1fff = 0"
      " and (ip[ip[2:2] - 1] | 1) != 0";
  // A whole TCP or UDP header, with payload after it.
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
    text += " and " +
            ListExpression(filter.portMode, filter.ports, "port", "src port", "dst port", PortText);
  }
  if (filter.addressMode != 0) {
    text += " and " + ListExpression(filter.addressMode, filter.addresses, "ip host", "ip src",
                                     "ip dst", DottedAddress);
  }
  return text;
}
