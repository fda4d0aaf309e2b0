#include "ping/echo_packet.h"

#include <cstring>

#include "ping/echo_status.h"
#include "base/byte_reader.h"

namespace {

constexpr uint8_t kIcmpEchoReply = 0;
constexpr uint8_t kIcmpEchoRequest = 8;
constexpr uint8_t kIpProtocolIcmp = 1;
constexpr size_t kIpMinHeader = 20;

constexpr uint8_t kIcmpv6EchoRequest = 128;
constexpr uint8_t kIcmpv6EchoReply = 129;
constexpr uint8_t kIpv6NextHeaderIcmpv6 = 58;
constexpr size_t kIpv6HeaderSize = 40;
constexpr size_t kIpv6DestinationAt = 24;

bool IsIpv6(IpAddress::Family family) {
  return family == IpAddress::Family::kIpv6;
}

// Length of the IPv4 header at the start of `ip`, or 0 when it is not a whole IPv4 header
// carrying ICMP.
size_t IcmpOffsetOfIpHeader(ByteReader& ip) {
  const uint8_t versionAndLength = ip.u8(0);
  const size_t headerLength = size_t{versionAndLength & 0x0Fu} * 4;
  if (ip.failed() || (versionAndLength >> 4) != 4 || headerLength < kIpMinHeader) return 0;
  if (!ip.has(0, headerLength) || ip.u8(9) != kIpProtocolIcmp || ip.failed()) return 0;
  return headerLength;
}

// True when `icmp` starts with our echo request (of type `requestType`): the quoted copy inside
// an error report.
bool IsQuotedRequest(ByteReader icmp, uint8_t requestType, uint16_t identifier, uint16_t sequence) {
  const bool same =
      icmp.u8(0) == requestType && icmp.u16(4) == identifier && icmp.u16(6) == sequence;
  return !icmp.failed() && same;
}

// True when an ICMPv6 error report's quoted packet is our request to our destination.
bool QuotesOurIpv6Request(ByteReader quoted, uint16_t identifier, uint16_t sequence,
                          const IpAddress& destination) {
  const bool ipv6 = (quoted.u8(0) >> 4) == 6 && quoted.u8(6) == kIpv6NextHeaderIcmpv6;
  if (!ipv6 || !quoted.has(kIpv6DestinationAt, 16)) return false;
  if (IpAddress::Ipv6(quoted.data() + kIpv6DestinationAt) != destination) return false;
  return IsQuotedRequest(quoted.from(kIpv6HeaderSize), kIcmpv6EchoRequest, identifier, sequence);
}

// True when the error report's quoted datagram is our request to our destination.
bool QuotesOurRequest(ByteReader quoted, const EchoTicket& ticket) {
  const size_t headerLength = IcmpOffsetOfIpHeader(quoted);
  if (headerLength == 0 || quoted.address(16) != ticket.destination || quoted.failed()) {
    return false;
  }
  return IsQuotedRequest(quoted.from(headerLength), kIcmpEchoRequest, ticket.identifier,
                         ticket.sequence);
}

}  // namespace

uint16_t InternetChecksum(const uint8_t* bytes, size_t length) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < length; i += 2) sum += uint32_t(bytes[i] << 8 | bytes[i + 1]);
  if (length % 2 != 0) sum += uint32_t(bytes[length - 1]) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

EchoRequestBytes BuildEchoRequest(uint16_t identifier, uint16_t sequence,
                                  IpAddress::Family family) {
  EchoRequestBytes request{};
  request[0] = IsIpv6(family) ? kIcmpv6EchoRequest : kIcmpEchoRequest;
  request[4] = static_cast<uint8_t>(identifier >> 8);
  request[5] = static_cast<uint8_t>(identifier);
  request[6] = static_cast<uint8_t>(sequence >> 8);
  request[7] = static_cast<uint8_t>(sequence);
  std::memset(request.data() + kIcmpHeaderSize, kEchoPayloadByte, kEchoPayloadSize);
  if (IsIpv6(family)) return request;
  const uint16_t checksum = InternetChecksum(request.data(), request.size());
  request[2] = static_cast<uint8_t>(checksum >> 8);
  request[3] = static_cast<uint8_t>(checksum);
  return request;
}

bool MatchRawReply(const uint8_t* data, size_t length, const EchoTicket& ticket,
                   EchoReport* report) {
  ByteReader ip(data, length);
  const size_t headerLength = IcmpOffsetOfIpHeader(ip);
  if (headerLength == 0) return false;
  // The datagram's own length decides where the ICMP message ends; a cut one is not trusted.
  const size_t totalLength = ip.u16(2);
  if (ip.failed() || totalLength < headerLength + kIcmpHeaderSize || totalLength > length) {
    return false;
  }
  ByteReader icmp(data + headerLength, totalLength - headerLength);
  if (InternetChecksum(icmp.data(), icmp.length()) != 0) return false;

  const uint8_t type = icmp.u8(0);
  const uint8_t code = icmp.u8(1);
  bool ours = false;
  if (type == kIcmpEchoReply) {
    ours = icmp.u16(4) == ticket.identifier && icmp.u16(6) == ticket.sequence;
  } else if (type != kIcmpEchoRequest) {
    ours = QuotesOurRequest(icmp.from(kIcmpHeaderSize), ticket);
  }
  uint32_t status = 0;
  if (icmp.failed() || !ours || !StatusOfIcmpReport(type, code, &status)) return false;
  if (report != nullptr) *report = EchoReport{ip.address(12), status};
  return true;
}

bool MatchRawIcmpv6Reply(const uint8_t* data, size_t length, uint16_t identifier, uint16_t sequence,
                         const IpAddress& destination, uint32_t* status) {
  ByteReader icmp(data, length);
  if (!icmp.has(0, kIcmpHeaderSize)) return false;
  const uint8_t type = icmp.u8(0);
  const uint8_t code = icmp.u8(1);
  bool ours = false;
  if (type == kIcmpv6EchoReply) {
    ours = icmp.u16(4) == identifier && icmp.u16(6) == sequence;
  } else if (type < kIcmpv6EchoRequest) {  // the error reports
    ours = QuotesOurIpv6Request(icmp.from(kIcmpHeaderSize), identifier, sequence, destination);
  }
  uint32_t found = 0;
  if (icmp.failed() || !ours || !StatusOfIcmpv6Report(type, code, &found)) return false;
  if (status != nullptr) *status = found;
  return true;
}

bool MatchDatagramReply(const uint8_t* data, size_t length, uint16_t sequence,
                        IpAddress::Family family) {
  ByteReader icmp(data, length);
  const uint8_t reply = IsIpv6(family) ? kIcmpv6EchoReply : kIcmpEchoReply;
  const bool ours = icmp.u8(0) == reply && icmp.u16(6) == sequence;
  return !icmp.failed() && ours;
}

bool MatchQuotedRequest(const uint8_t* data, size_t length, uint16_t sequence,
                        IpAddress::Family family) {
  ByteReader icmp(data, length);
  const uint8_t request = IsIpv6(family) ? kIcmpv6EchoRequest : kIcmpEchoRequest;
  const bool ours = icmp.u8(0) == request && icmp.u16(6) == sequence;
  return !icmp.failed() && ours;
}

bool IsSingleHostIpv6(const IpAddress& address) {
  return address.isIpv6() && !address.isUnspecified() && !address.isMulticast() &&
         !address.isIpv4Mapped();
}
