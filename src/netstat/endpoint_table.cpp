#include "netstat/endpoint_table.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "base/format_bounded.h"

namespace {

uint16_t HostPort(uint32_t portField) {
  const uint16_t network = static_cast<uint16_t>(portField & 0xFFFF);
  return static_cast<uint16_t>((network >> 8) | (network << 8));
}

template <typename Record>
IpAddress AddressOf(const Record& r, uint32_t ipv4, const uint8_t (&ipv6)[16]) {
  return r.ipv6 ? IpAddress::Ipv6(ipv6) : IpAddress::Ipv4(ipv4);
}

int Sign(int64_t difference) {
  return difference < 0 ? -1 : (difference > 0 ? 1 : 0);
}

int CompareAddresses(const IpAddress& a, const IpAddress& b) {
  const auto order = a <=> b;
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

unsigned char FoldCase(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

int CompareNames(const char* a, const char* b) {
  for (size_t i = 0; i < kProcessNameSize; ++i) {
    const unsigned char x = FoldCase(static_cast<unsigned char>(a[i]));
    const unsigned char y = FoldCase(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
  return 0;
}

EndpointRecord RecordOf(uint32_t protocol, const DiagSocket& s, const EndpointOwners& owners) {
  EndpointRecord r{};
  r.protocol = protocol;
  r.ipv6 = s.ipv6;
  r.localAddress = s.localAddress;
  std::memcpy(r.localAddress6, s.localAddress6, sizeof r.localAddress6);
  r.localPort = s.localPort;
  if (protocol == kEndpointTcp) {
    r.remoteAddress = s.remoteAddress;
    std::memcpy(r.remoteAddress6, s.remoteAddress6, sizeof r.remoteAddress6);
    r.remotePort = s.remotePort;
    r.state = TcpStateFromLinux(s.linuxState);
  }
  const auto owner =
      s.inode != 0 ? owners.processOfInode.find(s.inode) : owners.processOfInode.end();
  if (owner != owners.processOfInode.end()) {
    r.processId = owner->second;
    const auto name = owners.nameOfProcess.find(owner->second);
    if (name != owners.nameOfProcess.end()) {
      SetProcessName(r, name->second);
      return r;
    }
  }
  SetProcessName(r, kSystemProcessName);
  return r;
}

}  // namespace

IpAddress LocalAddressOf(const EndpointRecord& r) {
  return AddressOf(r, r.localAddress, r.localAddress6);
}

IpAddress RemoteAddressOf(const EndpointRecord& r) {
  return AddressOf(r, r.remoteAddress, r.remoteAddress6);
}

IpAddress LocalAddressOf(const DiagSocket& s) {
  return AddressOf(s, s.localAddress, s.localAddress6);
}

IpAddress RemoteAddressOf(const DiagSocket& s) {
  return AddressOf(s, s.remoteAddress, s.remoteAddress6);
}

uint32_t TcpStateFromLinux(uint8_t linuxState) {
  // The kernel's numbering (include/net/tcp_states.h). A request socket (NEW_SYN_RECV) is a
  // connection half-way through its handshake: SYN_RCVD to the user.
  switch (linuxState) {
    case 1:  // TCP_ESTABLISHED
      return kTcpEstablished;
    case 2:  // TCP_SYN_SENT
      return kTcpSynSent;
    case 3:   // TCP_SYN_RECV
    case 12:  // TCP_NEW_SYN_RECV
      return kTcpSynReceived;
    case 4:  // TCP_FIN_WAIT1
      return kTcpFinWait1;
    case 5:  // TCP_FIN_WAIT2
      return kTcpFinWait2;
    case 6:  // TCP_TIME_WAIT
      return kTcpTimeWait;
    case 7:  // TCP_CLOSE
      return kTcpClosed;
    case 8:  // TCP_CLOSE_WAIT
      return kTcpCloseWait;
    case 9:  // TCP_LAST_ACK
      return kTcpLastAck;
    case 10:  // TCP_LISTEN
      return kTcpListening;
    case 11:  // TCP_CLOSING
      return kTcpClosing;
    default:
      return 0;
  }
}

const char* TcpStateName(uint32_t state) {
  static constexpr const char* kNames[] = {"CLOSED",      "LISTENING", "SYN_SENT",  "SYN_RCVD",
                                           "ESTABLISHED", "FIN_WAIT1", "FIN_WAIT2", "CLOSE_WAIT",
                                           "CLOSING",     "LAST_ACK",  "TIME_WAIT", "DELETE_TCB"};
  if (state < 1 || state > 12) return "UNKNOWN";
  return kNames[state - 1];
}

void SortTableOrder(std::vector<DiagSocket>& sockets) {
  const auto key = [](const DiagSocket& s) {
    return std::make_tuple(LocalAddressOf(s), HostPort(s.localPort), RemoteAddressOf(s),
                           HostPort(s.remotePort));
  };
  std::sort(sockets.begin(), sockets.end(),
            [&](const DiagSocket& a, const DiagSocket& b) { return key(a) < key(b); });
}

EndpointSnapshot AssembleSnapshot(const std::vector<DiagSocket>& tcp,
                                  const std::vector<DiagSocket>& udp,
                                  const EndpointOwners& owners) {
  EndpointSnapshot snapshot;
  snapshot.records.reserve(tcp.size() + udp.size());
  for (const DiagSocket& s : tcp) snapshot.records.push_back(RecordOf(kEndpointTcp, s, owners));
  for (const DiagSocket& s : udp) snapshot.records.push_back(RecordOf(kEndpointUdp, s, owners));
  return snapshot;
}

void SetProcessName(EndpointRecord& record, std::string_view fileName) {
  size_t length = std::min(fileName.size(), kProcessNameSize - 1);
  // Back off to the start of a UTF-8 character cut at the end.
  if (length < fileName.size()) {
    while (length > 0 && (static_cast<unsigned char>(fileName[length]) & 0xC0) == 0x80) --length;
  }
  std::memset(record.processName, 0, sizeof record.processName);
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(fileName[i]);
    record.processName[i] = (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  }
}

std::string_view FileNameOfPath(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string EndpointCellText(const EndpointRecord& r, int column) {
  const bool udp = r.protocol == kEndpointUdp;
  switch (column) {
    case kColumnProcess:
      return FormatLine(kLineCapacity, "%.*s:%u", int(kProcessNameSize - 1), r.processName,
                        r.processId);
    case kColumnProto:
      return udp ? "UDP" : "TCP";
    case kColumnLocal:
      return EndpointText(LocalAddressOf(r), HostPort(r.localPort));
    case kColumnRemote: {
      if (udp) return "*.*";
      const IpAddress remote = RemoteAddressOf(r);
      const bool noPeer = remote.isUnspecified() && r.state != kTcpEstablished;
      return EndpointText(remote, noPeer ? 0 : HostPort(r.remotePort));
    }
    case kColumnState:
      return udp ? std::string() : TcpStateName(r.state);
    default:
      return {};
  }
}

bool EndpointPasses(const EndpointRecord& r, EndpointFilter filter) {
  switch (filter) {
    case EndpointFilter::UdpOnly:
      return r.protocol == kEndpointUdp;
    case EndpointFilter::TcpOnly:
      return r.protocol == kEndpointTcp;
    case EndpointFilter::ShowConnected:
      return r.protocol == kEndpointTcp && r.state == kTcpEstablished;
    case EndpointFilter::ShowAll:
      break;
  }
  return true;
}

int CompareEndpoints(const EndpointRecord& a, const EndpointRecord& b, int sortColumn,
                     bool ascending) {
  int result = 0;
  switch (sortColumn) {
    case kColumnProcess:
      result = CompareNames(a.processName, b.processName);
      break;
    case kColumnProto:
      result = Sign(int64_t{a.protocol} - int64_t{b.protocol});
      break;
    case kColumnLocal:
      result = CompareAddresses(LocalAddressOf(a), LocalAddressOf(b));
      break;
    case kColumnRemote:
      result = CompareAddresses(RemoteAddressOf(a), RemoteAddressOf(b));
      break;
    case kColumnState:
      result = Sign(int64_t{a.state} - int64_t{b.state});
      break;
    default:
      break;
  }
  return ascending ? result : -result;
}

void SortEndpointRows(std::vector<uint32_t>& rows, const EndpointSnapshot& snapshot, int sortColumn,
                      bool ascending) {
  const std::vector<EndpointRecord>& records = snapshot.records;
  std::stable_sort(rows.begin(), rows.end(), [&](uint32_t a, uint32_t b) {
    return CompareEndpoints(records[a], records[b], sortColumn, ascending) < 0;
  });
}

void AddTcpRow(std::deque<uint32_t>& rows, uint32_t record) {
  rows.push_front(record);
}

void AddUdpRow(std::deque<uint32_t>& rows, uint32_t record) {
  rows.push_front(record);
}

std::vector<uint32_t> EndpointRows(const EndpointSnapshot& snapshot, EndpointFilter filter,
                                   int sortColumn, bool ascending) {
  std::deque<uint32_t> added;
  for (size_t i = 0; i < snapshot.records.size(); ++i) {
    const EndpointRecord& r = snapshot.records[i];
    if (!EndpointPasses(r, filter)) continue;
    if (r.protocol == kEndpointUdp) {
      AddUdpRow(added, static_cast<uint32_t>(i));
    } else {
      AddTcpRow(added, static_cast<uint32_t>(i));
    }
  }
  std::vector<uint32_t> rows(added.begin(), added.end());
  SortEndpointRows(rows, snapshot, sortColumn, ascending);
  return rows;
}
