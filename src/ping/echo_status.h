#pragma once

#include <cstddef>
#include <cstdint>

// What one echo request learnt. Addresses in network byte order.
struct EchoResult {
  uint32_t address = 0;     // who answered: the destination, or the router that reported
  uint32_t status = 0;      // one of the status codes below
  int32_t roundTripMs = 0;  // milliseconds from request to answer; -1 for a failed echo
};

// Status codes of an echo, with their texts in EchoStatusText.
inline constexpr uint32_t kEchoSuccess = 0;
inline constexpr uint32_t kEchoBufTooSmall = 11001;
inline constexpr uint32_t kEchoDestNetUnreachable = 11002;
inline constexpr uint32_t kEchoDestHostUnreachable = 11003;
inline constexpr uint32_t kEchoDestProtUnreachable = 11004;
inline constexpr uint32_t kEchoDestPortUnreachable = 11005;
inline constexpr uint32_t kEchoNoResources = 11006;
inline constexpr uint32_t kEchoBadOption = 11007;
inline constexpr uint32_t kEchoHwError = 11008;
inline constexpr uint32_t kEchoPacketTooBig = 11009;
inline constexpr uint32_t kEchoReqTimedOut = 11010;
inline constexpr uint32_t kEchoBadReq = 11011;
inline constexpr uint32_t kEchoBadRoute = 11012;
inline constexpr uint32_t kEchoTtlExpiredTransit = 11013;
inline constexpr uint32_t kEchoTtlExpiredReassem = 11014;
inline constexpr uint32_t kEchoParamProblem = 11015;
inline constexpr uint32_t kEchoSourceQuench = 11016;
inline constexpr uint32_t kEchoOptionTooBig = 11017;
inline constexpr uint32_t kEchoBadDestination = 11018;
inline constexpr uint32_t kEchoGeneralFailure = 11050;
inline constexpr uint32_t kEchoPending = 11255;

// Copies the text of a status code ("SUCCESS", "REQ_TIMED_OUT"... "Status Unknown" for codes
// not in the table) into `buffer`, cut to `size` - 1 characters and terminated. Nothing is
// written when `size` is 0.
void EchoStatusText(uint32_t code, char* buffer, size_t size);

// The status an ICMP report of this type and code stands for, or nothing (false) for
// messages that say nothing about an echo request (redirects, other queries).
bool StatusOfIcmpReport(uint8_t type, uint8_t code, uint32_t* status);

// The same for an ICMPv6 report: echo reply, destination unreachable, packet too big, time
// exceeded, parameter problem.
bool StatusOfIcmpv6Report(uint8_t type, uint8_t code, uint32_t* status);

// The status of a send that failed locally with this errno value.
uint32_t StatusOfSendError(int error);

// An echo counts as answered when the destination replied or a router on the way reported the
// time-to-live expired; every other report ends it as a failed echo.
inline bool IsAnsweredStatus(uint32_t status) {
  return status == kEchoSuccess || status == kEchoTtlExpiredTransit;
}
