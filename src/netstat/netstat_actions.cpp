#include "netstat/netstat_actions.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "netstat/proc_text.h"
#include "base/format_bounded.h"

namespace {

constexpr const char* kUnknown = "unknown";
constexpr const char* kAccessDenied = "Access Denied";

std::string Piece(const char* format, const std::string& value) {
  return FormatLine(kPropertiesPieceCapacity, format, value.c_str());
}

// The host name and service lines of an "address:port" or "[address]:port" cell.
std::string NameAndServiceLines(const std::string& cell, bool udp, const PropertyLookups& l) {
  const size_t colon = cell.rfind(':');
  std::string address = colon == std::string::npos ? cell : cell.substr(0, colon);
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
    address = address.substr(1, address.size() - 2);
  }
  const int port = colon == std::string::npos ? 0 : std::atoi(cell.c_str() + colon + 1);
  std::optional<std::string> host = l.hostName ? l.hostName(address) : std::nullopt;
  std::optional<std::string> service;
  if (l.serviceName && port > 0 && port <= 0xFFFF) service = l.serviceName(uint16_t(port), udp);
  return Piece("\tHostname :\t%s\r\n", host.value_or(kUnknown)) +
         Piece("\tService :\t\t%s\r\n", service.value_or(kUnknown));
}

// The path or command line of a process: what fitted in the buffer, or "Access Denied".
std::string ProcessText(uint32_t processId, bool imagePath, const PropertyLookups& l) {
  if (!l.readProcessText) return kAccessDenied;
  std::vector<char> buffer(kProcessTextCapacity, '\0');
  const int result = l.readProcessText(processId, imagePath, buffer.data(), buffer.size());
  if (result < 0) return kAccessDenied;
  buffer.back() = '\0';
  return buffer.data();
}

}  // namespace

RowCells CellsOf(const EndpointRecord& record) {
  RowCells cells;
  for (int c = 0; c < kEndpointColumns; ++c) cells[size_t(c)] = EndpointCellText(record, c);
  return cells;
}

std::string FormatRowLine(const RowCells& c) {
  return FormatLine(kLineCapacity, "%s\t%s\t%s\t%s\t%s\r\n", c[0].c_str(), c[1].c_str(),
                    c[2].c_str(), c[3].c_str(), c[4].c_str());
}

CaptureFilter CaptureFilterForEndpoint(const EndpointRecord& r) {
  CaptureFilter filter{};
  const bool udp = r.protocol == kEndpointUdp;
  const bool local = udp || r.state == kTcpListening;
  IpAddress address = local ? LocalAddressOf(r) : RemoteAddressOf(r);
  const uint32_t port = local ? r.localPort : r.remotePort;
  filter.includeTcp = udp ? 0 : 1;
  filter.includeUdp = udp ? 1 : 0;
  filter.portMode = 1;
  filter.ports[0] = static_cast<uint16_t>(port & 0xFFFF);
  if (address.isIpv4Mapped()) {
    // An IPv4 peer of an IPv6 socket: its packets carry the IPv4 address.
    uint32_t ipv4;
    std::memcpy(&ipv4, address.bytes().data() + 12, sizeof ipv4);
    address = IpAddress::Ipv4(ipv4);
  }
  if (local && address.isUnspecified()) {
    filter.addressMode = 0;
  } else {
    filter.addressMode = 1;
    filter.addresses[0] = address;
  }
  return filter;
}

std::string BuildConnectionProperties(const RowCells& cells, const PropertyLookups& l) {
  const bool udp = !cells[kColumnProto].empty() && cells[kColumnProto][0] == 'U';
  std::string text = Piece("CONNECTION:\r\n\tProtocol :\t%s\r\n\r\n", cells[kColumnProto]);
  text += Piece("\tLocal Address :\t%s\r\n", cells[kColumnLocal]);
  text += NameAndServiceLines(cells[kColumnLocal], udp, l);
  if (!udp) {
    text += Piece("\r\n\tRemote Address :\t%s\r\n", cells[kColumnRemote]);
    text += NameAndServiceLines(cells[kColumnRemote], false, l);
    text += Piece("\r\n\tStatus :\t\t%s\r\n", cells[kColumnState]);
  }
  text += "\r\nPROCESS :\r\n";
  text += Piece("\tExe:ProcessID :\t%s\r\n", cells[kColumnProcess]);
  const uint32_t processId = ProcessIdOfCell(cells[kColumnProcess]);
  text += "\tPath Name :\t" + ProcessText(processId, true, l) + "\r\n";
  text += "\tCommand Line :\t" + ProcessText(processId, false, l) + "\r\n";
  const uint64_t bytes = l.workingSet ? l.workingSet(processId) : 0;
  text += Piece("\tMemory Usage :\t%s Kb\r\n", GroupThousands(bytes / 1000));

  std::vector<char> bounded(kPropertiesCapacity);
  CopyBounded(text, bounded.data(), bounded.size());
  return bounded.data();
}

uint32_t ProcessIdOfCell(const std::string& processCell) {
  const size_t colon = processCell.rfind(':');
  if (colon == std::string::npos) return 0;
  return static_cast<uint32_t>(std::strtoul(processCell.c_str() + colon + 1, nullptr, 10));
}
