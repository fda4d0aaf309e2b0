#include "ping/echo_status.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

struct StatusName {
  uint32_t code;
  const char* text;
};

constexpr StatusName kStatusNames[] = {
    {0, "SUCCESS"},
    {11001, "BUF_TOO_SMALL"},
    {11002, "DEST_NET_UNREACHABLE"},
    {11003, "DEST_HOST_UNREACHABLE"},
    {11004, "DEST_PROT_UNREACHABLE"},
    {11005, "DEST_PORT_UNREACHABLE"},
    {11006, "NO_RESOURCES"},
    {11007, "BAD_OPTION"},
    {11008, "HW_ERROR"},
    {11009, "PACKET_TOO_BIG"},
    {11010, "REQ_TIMED_OUT"},
    {11011, "BAD_REQ"},
    {11012, "BAD_ROUTE"},
    {11013, "TTL_EXPIRED_TRANSIT"},
    {11014, "TTL_EXPIRED_REASSEM"},
    {11015, "PARAM_PROBLEM"},
    {11016, "SOURCE_QUENCH"},
    {11017, "OPTION_TOO_BIG"},
    {11018, "BAD_DESTINATION"},
    {11019, "ADDR_DELETED"},
    {11020, "SPEC_MTU_CHANGE"},
    {11021, "MTU_CHANGE"},
    {11022, "UNLOAD"},
    {11023, "ADDR_ADDED"},
    {11050, "GENERAL_FAILURE"},
    {11255, "PENDING"},
};

// ICMP message types that concern an echo request.
constexpr uint8_t kIcmpEchoReply = 0;
constexpr uint8_t kIcmpDestUnreachable = 3;
constexpr uint8_t kIcmpSourceQuench = 4;
constexpr uint8_t kIcmpTimeExceeded = 11;
constexpr uint8_t kIcmpParamProblem = 12;

// Destination-unreachable codes (RFC 792, RFC 1122, RFC 1812) to the nearest status.
uint32_t StatusOfUnreachable(uint8_t code) {
  switch (code) {
    case 0:   // network unreachable
    case 6:   // destination network unknown
    case 9:   // network administratively prohibited
    case 11:  // network unreachable for the type of service
      return kEchoDestNetUnreachable;
    case 2:
      return kEchoDestProtUnreachable;
    case 3:
      return kEchoDestPortUnreachable;
    case 4:
      return kEchoPacketTooBig;  // fragmentation needed and DF set
    case 5:
      return kEchoBadRoute;  // source route failed
    default:
      return kEchoDestHostUnreachable;  // host unreachable, unknown, prohibited...
  }
}

// ICMPv6 message types that concern an echo request (RFC 4443).
constexpr uint8_t kIcmpv6DestUnreachable = 1;
constexpr uint8_t kIcmpv6PacketTooBig = 2;
constexpr uint8_t kIcmpv6TimeExceeded = 3;
constexpr uint8_t kIcmpv6ParamProblem = 4;
constexpr uint8_t kIcmpv6EchoReply = 129;

uint32_t StatusOfIcmpv6Unreachable(uint8_t code) {
  switch (code) {
    case 0:  // no route to destination
    case 6:  // reject route to destination
      return kEchoDestNetUnreachable;
    case 4:
      return kEchoDestPortUnreachable;
    default:
      return kEchoDestHostUnreachable;  // prohibited, beyond scope, address unreachable...
  }
}

}  // namespace

void EchoStatusText(uint32_t code, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return;
  const char* text = "Status Unknown";
  for (const StatusName& entry : kStatusNames) {
    if (entry.code == code) text = entry.text;
  }
  const size_t length = std::min(std::strlen(text), size - 1);
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
}

bool StatusOfIcmpReport(uint8_t type, uint8_t code, uint32_t* status) {
  switch (type) {
    case kIcmpEchoReply:
      *status = kEchoSuccess;
      return true;
    case kIcmpDestUnreachable:
      *status = StatusOfUnreachable(code);
      return true;
    case kIcmpSourceQuench:
      *status = kEchoSourceQuench;
      return true;
    case kIcmpTimeExceeded:
      *status = code == 1 ? kEchoTtlExpiredReassem : kEchoTtlExpiredTransit;
      return true;
    case kIcmpParamProblem:
      *status = kEchoParamProblem;
      return true;
    default:
      return false;
  }
}

bool StatusOfIcmpv6Report(uint8_t type, uint8_t code, uint32_t* status) {
  switch (type) {
    case kIcmpv6EchoReply:
      *status = kEchoSuccess;
      return true;
    case kIcmpv6DestUnreachable:
      *status = StatusOfIcmpv6Unreachable(code);
      return true;
    case kIcmpv6PacketTooBig:
      *status = kEchoPacketTooBig;
      return true;
    case kIcmpv6TimeExceeded:
      *status = code == 1 ? kEchoTtlExpiredReassem : kEchoTtlExpiredTransit;
      return true;
    case kIcmpv6ParamProblem:
      *status = kEchoParamProblem;
      return true;
    default:
      return false;
  }
}

uint32_t StatusOfSendError(int error) {
  switch (error) {
    case ENETUNREACH:
    case ENETDOWN:
      return kEchoDestNetUnreachable;
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return kEchoDestHostUnreachable;
    case EMSGSIZE:
      return kEchoPacketTooBig;
    case ENOBUFS:
    case ENOMEM:
      return kEchoNoResources;
    case EACCES:
    case EINVAL:
    case EADDRNOTAVAIL:
      return kEchoBadDestination;
    default:
      return kEchoGeneralFailure;
  }
}
