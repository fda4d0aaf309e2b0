#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/ip_address.h"

// The system's IPv4 and IPv6 endpoints as the Netstat module lists them: one fixed-size record per
// TCP or UDP endpoint, the rules that turn a record into the cells of a row, the filters and the
// sort order of the list.

inline constexpr uint32_t kEndpointTcp = 0;
inline constexpr uint32_t kEndpointUdp = 1;

// TCP state numbers of the table. UDP records have state 0.
inline constexpr uint32_t kTcpClosed = 1;
inline constexpr uint32_t kTcpListening = 2;
inline constexpr uint32_t kTcpSynSent = 3;
inline constexpr uint32_t kTcpSynReceived = 4;
inline constexpr uint32_t kTcpEstablished = 5;
inline constexpr uint32_t kTcpFinWait1 = 6;
inline constexpr uint32_t kTcpFinWait2 = 7;
inline constexpr uint32_t kTcpCloseWait = 8;
inline constexpr uint32_t kTcpClosing = 9;
inline constexpr uint32_t kTcpLastAck = 10;
inline constexpr uint32_t kTcpTimeWait = 11;
inline constexpr uint32_t kTcpDeleteTcb = 12;

// Owner of an endpoint whose process cannot be seen (a kernel socket, or another user's
// process without the privileges to look into it): process id 0 and this name.
inline constexpr const char* kSystemProcessName = "System";

inline constexpr size_t kProcessNameSize = 128;  // 127 bytes and the terminator

// One endpoint. An IPv4 endpoint's addresses are in network byte order; an IPv6 endpoint (an
// IPv6 socket, also one whose peer is an IPv4-mapped address) has its sixteen bytes in the
// ...6 fields and 0 in the IPv4 ones. A port field holds the port in network byte order in its
// low 16 bits (the high 16 bits are 0). UDP records have remote address, remote port and state 0.
struct EndpointRecord {
  uint32_t protocol;  // kEndpointTcp or kEndpointUdp
  uint32_t localAddress;
  uint32_t localPort;
  uint32_t remoteAddress;
  uint32_t remotePort;
  uint32_t state;
  uint32_t processId;
  char processName[kProcessNameSize];  // file name of the owner's executable, or "System"
  bool ipv6;
  uint8_t localAddress6[16];
  uint8_t remoteAddress6[16];
};

// The two addresses of a record, of either family.
IpAddress LocalAddressOf(const EndpointRecord& record);
IpAddress RemoteAddressOf(const EndpointRecord& record);

// One refresh's endpoints: all TCP records, then all UDP records, each group in table order
// (SortTableOrder). Never changed once built: the rows of the list refer into it for as long as
// they are shown.
struct EndpointSnapshot {
  std::vector<EndpointRecord> records;
};

// One socket of the kernel's table, as read from a socket-diagnostics dump. Addresses as in
// EndpointRecord: IPv4 in the first two, IPv6 in the ...6 fields.
struct DiagSocket {
  uint8_t linuxState = 0;       // the kernel's TCP state number (UDP uses it too)
  uint32_t localAddress = 0;    // network byte order
  uint32_t remoteAddress = 0;   // network byte order
  uint16_t localPort = 0;       // network byte order
  uint16_t remotePort = 0;      // network byte order
  uint32_t inode = 0;           // 0 for sockets that no file refers to (TIME_WAIT, SYN_RECV)
  uint32_t cookie[2] = {};      // the kernel's identity of this very socket
  uint32_t interfaceIndex = 0;  // the interface a socket is bound to, 0 for none
  bool ipv6 = false;
  uint8_t localAddress6[16] = {};
  uint8_t remoteAddress6[16] = {};
};

IpAddress LocalAddressOf(const DiagSocket& socket);
IpAddress RemoteAddressOf(const DiagSocket& socket);

// Owners found for one refresh: socket inode -> process id, and process id -> the file name
// of its executable (a process missing there could not be read and is named "System").
struct EndpointOwners {
  std::unordered_map<uint32_t, uint32_t> processOfInode;
  std::unordered_map<uint32_t, std::string> nameOfProcess;
};

// The table's state number of a Linux TCP state; 0 (shown as "UNKNOWN") for none.
uint32_t TcpStateFromLinux(uint8_t linuxState);

// "CLOSED" ... "DELETE_TCB" for 1 to 12, "UNKNOWN" for anything else.
const char* TcpStateName(uint32_t state);

// Puts a table into table order: by local address and port, then remote address and port, IPv4
// before IPv6, each as numbers.
void SortTableOrder(std::vector<DiagSocket>& sockets);

// The snapshot of two tables in table order, with their owners.
EndpointSnapshot AssembleSnapshot(const std::vector<DiagSocket>& tcp,
                                  const std::vector<DiagSocket>& udp, const EndpointOwners& owners);

// Fills `processName` from an executable's file name: cut to 127 bytes without splitting a
// UTF-8 character, control characters shown as '?' so that no name can break a line or a
// column of the copied rows.
void SetProcessName(EndpointRecord& record, std::string_view fileName);

// The text after the last '/' of a path, or the whole path when it has none.
std::string_view FileNameOfPath(std::string_view path);

// Columns of the Netstat list.
inline constexpr int kColumnProcess = 0;
inline constexpr int kColumnProto = 1;
inline constexpr int kColumnLocal = 2;
inline constexpr int kColumnRemote = 3;
inline constexpr int kColumnState = 4;
inline constexpr int kEndpointColumns = 5;

// The text of one cell of a record's row: "name:pid", "TCP"/"UDP", "a.b.c.d:port" or
// "[addr]:port" twice (a remote port shows as 0 when the remote address is 0.0.0.0 or :: and the
// state is not ESTABLISHED; UDP rows show "*.*"), the state name (empty for UDP). Empty for other
// columns.
std::string EndpointCellText(const EndpointRecord& record, int column);

// The four filters of the list.
enum class EndpointFilter { ShowAll, ShowConnected, TcpOnly, UdpOnly };
bool EndpointPasses(const EndpointRecord& record, EndpointFilter filter);

// Order of two records under the list's sort column: process name ignoring letter case,
// protocol, local address, remote address (IPv4 before IPv6, each as numbers; ports not
// compared) or state.
// Negative, zero or positive; the sign is turned round when `ascending` is false.
int CompareEndpoints(const EndpointRecord& a, const EndpointRecord& b, int sortColumn,
                     bool ascending);

// Sorts rows (indices into the snapshot) stably, so equal rows keep their order.
void SortEndpointRows(std::vector<uint32_t>& rows, const EndpointSnapshot& snapshot, int sortColumn,
                      bool ascending);

// A row of the list is the index of its record in the snapshot; the list makes the row's cells
// from the record when it shows them (EndpointCellText: a TCP row's or a UDP row's). These put
// the row of a TCP or a UDP record at the top of the rows added so far.
void AddTcpRow(std::deque<uint32_t>& rows, uint32_t record);
void AddUdpRow(std::deque<uint32_t>& rows, uint32_t record);

// The rows of the list after a refresh: the records that pass the filter, each put at the top
// as it is added (so in reverse snapshot order), then sorted.
std::vector<uint32_t> EndpointRows(const EndpointSnapshot& snapshot, EndpointFilter filter,
                                   int sortColumn, bool ascending);
