#pragma once

#include <cstddef>
#include <cstdint>

#include "base/ip_address.h"
#include "capture/capture_filter.h"

// The records the window and pelorin-helper exchange over their socket pair. The socket keeps
// record boundaries (SOCK_SEQPACKET): one record per message, each a fixed layout of its type in
// the host's byte order, starting with a HelperHeader whose `length` is the whole record's. Both
// programs are built from this header, so the layouts always agree; `version` still guards
// against a window and a helper of different builds.
//
// The window numbers its requests; every reply carries the id of its request. A request ends
// with exactly one final reply: HelperStatusReply (0 or an errno: the request was refused or
// failed) or the request's own result. Owners and a capture send replies before their final
// one. The helper serves requests at the same time: an echo waiting for its answer or a
// running capture never holds up the others.
//
// Addresses carry a family and 16 bytes (IPv4 in the first 4, network order, the rest 0).

inline constexpr uint16_t kHelperVersion = 1;

// Address families as the system numbers them.
inline constexpr uint16_t kWireIpv4 = 2;   // AF_INET
inline constexpr uint16_t kWireIpv6 = 10;  // AF_INET6

enum HelperRecordType : uint16_t {
  // Requests.
  kHelperHello = 1,    // HelperBareRecord; answered by HelperAbilitiesReply
  kHelperEcho = 2,     // HelperEchoRequest -> HelperEchoReply
  kHelperCapture = 3,  // HelperCaptureRequest -> kHelperCaptureOpened, HelperCaptureEndedReply
  kHelperKill = 4,     // HelperKillRequest -> HelperStatusReply
  kHelperFlush = 5,    // HelperFlushRequest -> HelperStatusReply
  kHelperOwners = 6,   // HelperBareRecord -> pairs and names, then HelperStatusReply
  kHelperFact = 7,     // HelperFactRequest -> HelperFactReply
  kHelperCancel = 8,   // HelperBareRecord with the id of the request to end; no reply of its own
  // Replies.
  kHelperStatus = 101,
  kHelperAbilities = 102,
  kHelperEchoResult = 103,
  kHelperCaptureOpened = 104,  // HelperBareRecord with the read end of the packet pipe
  kHelperCaptureEnded = 105,
  kHelperOwnerPairs = 106,
  kHelperOwnerNames = 107,
  kHelperFactResult = 108,
};

struct HelperHeader {
  uint16_t version = kHelperVersion;
  uint16_t type = 0;
  uint32_t length = 0;  // of the whole record
  uint32_t id = 0;      // of the request
  uint32_t reserved = 0;
};

// A request or reply that is its header alone.
struct HelperBareRecord {
  HelperHeader header;
};

struct WireAddress {
  uint16_t family = 0;  // kWireIpv4 or kWireIpv6
  uint16_t reserved = 0;
  uint8_t bytes[16] = {};
};

// One ICMP or ICMPv6 echo on a raw socket, only where the window's datagram socket is refused.
struct HelperEchoRequest {
  HelperHeader header;
  WireAddress destination;  // unicast only: IPv4 or IPv6, not IPv4-mapped
  uint32_t ttl = 0;         // 0 to 255 (0 goes out as 255)
  uint32_t timeoutMs = 0;   // 0 waits 3000 ms; longer waits are cut to the echo service's limit
};

// A CaptureFilter: each list has a count of entries (at most kFilterListLength, none 0), the
// places past the count are 0.
struct WireCaptureFilter {
  int32_t includeTcp = 0;  // 0 or 1, as the other flags
  int32_t includeUdp = 0;
  int32_t portMode = 0;  // 0 to 3
  uint32_t portCount = 0;
  uint16_t ports[kFilterListLength] = {};  // network byte order
  int32_t addressMode = 0;                 // 0 to 3
  uint32_t addressCount = 0;
  WireAddress addresses[kFilterListLength];
};

// A capture on the interface that holds `address`, of what the filter can pass: the helper
// makes the kernel filter itself and streams the packets as a capture file through a pipe.
// The connection a capture leaves out (CaptureExclusion): all zero when none is.
struct WireCaptureExclusion {
  uint32_t active = 0;  // 0 or 1
  WireAddress addressA;
  WireAddress addressB;  // of the same family
  uint16_t portA = 0;    // network byte order, never 0 when active
  uint16_t portB = 0;
};

struct HelperCaptureRequest {
  HelperHeader header;
  WireAddress address;
  WireCaptureFilter filter;
  WireCaptureExclusion exclusion;
};

// Ends the one established TCP connection with this four-tuple (both addresses of one family).
struct HelperKillRequest {
  HelperHeader header;
  WireAddress local;
  WireAddress remote;
  uint16_t localPort = 0;  // network byte order, as the remote port
  uint16_t remotePort = 0;
};

// Deletes the dynamic neighbour entries of one interface.
struct HelperFlushRequest {
  HelperHeader header;
  int32_t interfaceIndex = 0;
  uint16_t family = 0;
  uint16_t reserved = 0;
};

// What HelperFactRequest asks about a process that owns a TCP or UDP socket.
enum HelperFact : uint32_t {
  kFactCommandLine = 0,     // as ReadProcessParameter shows it
  kFactImagePath = 1,       // as ReadProcessParameter shows it
  kFactExecutablePath = 2,  // exactly as the system names it
  kFactWorkingSet = 3,
};
inline constexpr uint32_t kFactTextLimit = 4096;

struct HelperFactRequest {
  HelperHeader header;
  uint32_t processId = 0;
  uint32_t fact = 0;
  uint32_t capacity = 0;  // texts: 1 to kFactTextLimit bytes; the working set: 0
  uint32_t reserved = 0;
};

struct HelperStatusReply {
  HelperHeader header;
  int32_t error = 0;  // 0 or an errno
  uint32_t reserved = 0;
};

struct HelperAbilitiesReply {
  HelperHeader header;
  uint64_t capabilities = 0;  // bit n: capability n is in the helper's permitted set
};

// SendEcho's result.
struct HelperEchoReply {
  HelperHeader header;
  int32_t answered = 0;
  uint32_t status = 0;
  WireAddress address;
  int32_t roundTripMs = 0;
  uint32_t reserved = 0;
};

// The capture's end: 0 after a stop, else why it ended; the kernel's counts.
struct HelperCaptureEndedReply {
  HelperHeader header;
  int32_t error = 0;
  uint32_t reserved = 0;
  uint64_t received = 0;
  uint64_t dropped = 0;
};

struct OwnerPair {
  uint32_t inode = 0;
  uint32_t processId = 0;
};
inline constexpr uint32_t kOwnerPairsPerReply = 512;

struct HelperOwnerPairsReply {
  HelperHeader header;
  uint32_t count = 0;
  uint32_t reserved = 0;
  OwnerPair pairs[kOwnerPairsPerReply];
};

// The file name of an owner's executable; owners whose executable cannot be read get none.
inline constexpr uint32_t kOwnerNameLimit = 256;
struct OwnerName {
  uint32_t processId = 0;
  uint32_t length = 0;
  char name[kOwnerNameLimit] = {};
};
inline constexpr uint32_t kOwnerNamesPerReply = 16;

struct HelperOwnerNamesReply {
  HelperHeader header;
  uint32_t count = 0;
  uint32_t reserved = 0;
  OwnerName names[kOwnerNamesPerReply];
};

// Texts: ReadProcessParameter's result (-1, 0 or the capacity the whole text needs) and the
// text; the exact executable path: 0 and the path, or -1; the working set: 0 and the bytes.
struct HelperFactReply {
  HelperHeader header;
  int32_t result = 0;
  uint32_t length = 0;  // of `text`, at most the request's capacity - 1
  uint64_t workingSet = 0;
  char text[kFactTextLimit] = {};
};

// The largest record of either direction.
inline constexpr size_t kHelperRecordLimit = sizeof(HelperFactReply) > sizeof(HelperOwnerNamesReply)
                                                 ? sizeof(HelperFactReply)
                                                 : sizeof(HelperOwnerNamesReply);

// A request as the helper acts on it, every field checked.
struct HelperRequest {
  HelperRecordType type = kHelperHello;
  uint32_t id = 0;
  // kHelperEcho
  IpAddress destination;
  uint8_t ttl = 0;
  uint32_t timeoutMs = 0;
  // kHelperCapture
  IpAddress captureAddress;
  CaptureFilter filter;
  CaptureExclusion exclusion;
  // kHelperKill
  IpAddress localAddress;
  IpAddress remoteAddress;
  uint16_t localPort = 0;
  uint16_t remotePort = 0;
  // kHelperFlush
  int interfaceIndex = 0;
  // kHelperFact
  uint32_t processId = 0;
  HelperFact fact = kFactCommandLine;
  uint32_t capacity = 0;
};

// Reads one received request. 0 when it is whole and every field within its limits; else the
// errno to answer it with: EINVAL for a record of another version, type or length, or with a
// field out of its range (a filter's address 0.0.0.0 or :: too); EAFNOSUPPORT for an IPv6
// address in a request that serves IPv4 only (flush). `request->id` is set whenever the header
// could be read, so the refusal reaches its caller.
int DecodeHelperRequest(const uint8_t* data, size_t size, HelperRequest* request);

// Checks one received reply: its version, a known type with the length of its layout, and the
// counts and lengths inside it within their arrays. True when the window may read it.
bool CheckHelperReply(const uint8_t* data, size_t size);

// The final reply of a request: its last record.
bool IsFinalHelperReply(uint16_t type);

// A record with its header filled in.
template <typename Record>
Record NewHelperRecord(HelperRecordType type, uint32_t id = 0) {
  Record record{};
  record.header.version = kHelperVersion;
  record.header.type = type;
  record.header.length = sizeof(Record);
  record.header.id = id;
  return record;
}

WireAddress WireIpv4(uint32_t address);
WireAddress WireAddressOf(const IpAddress& address);
// The address a reply carries; one of another family reads as 0.0.0.0.
IpAddress AddressOfWire(const WireAddress& wire);
WireCaptureFilter WireFilterOf(const CaptureFilter& filter);
WireCaptureExclusion WireExclusionOf(const CaptureExclusion& exclusion);
