#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "netstat/endpoint_table.h"

// The messages of the kernel's socket-diagnostics netlink protocol that the endpoint tables
// use, read from bytes with every length checked. Netlink fields are in host byte order; the
// addresses and ports inside a socket's identity are in network byte order.

inline constexpr size_t kNetlinkHeaderSize = 16;
inline constexpr size_t kInetDiagMessageSize = 72;
inline constexpr uint16_t kNetlinkError = 2;
inline constexpr uint16_t kNetlinkDone = 3;
inline constexpr uint16_t kSockDiagByFamily = 20;
inline constexpr uint16_t kSockDestroy = 21;
inline constexpr uint8_t kFamilyInet = 2;
inline constexpr uint8_t kFamilyInet6 = 10;

enum class DiagDumpStatus {
  More,    // the datagram was read; the dump goes on
  Done,    // the dump is complete
  Failed,  // the kernel reported an error or the bytes are not a dump answer
};

// Reads one datagram of a dump answer, appending its sockets of `family` (kFamilyInet or
// kFamilyInet6, the family asked for) to `out`. Messages of another sequence number or family
// are skipped. On Failed, `*errorCode` (if given) gets the kernel's errno, or 0
// for malformed bytes.
DiagDumpStatus ParseDiagDatagram(const uint8_t* data, size_t size, uint32_t sequence,
                                 std::vector<DiagSocket>& out, int* errorCode = nullptr,
                                 uint8_t family = kFamilyInet);

// The answer to a request sent with an acknowledgement asked for: 0 when the kernel accepted
// it, its errno when it refused, -1 when the bytes hold no acknowledgement of `sequence`.
int ParseNetlinkAck(const uint8_t* data, size_t size, uint32_t sequence);
