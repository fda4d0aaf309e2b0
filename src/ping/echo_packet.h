#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/ip_address.h"

// The echo request every echo sends: an ICMP (or ICMPv6) echo header and 32 bytes of 0x45 ('E').
inline constexpr size_t kIcmpHeaderSize = 8;
inline constexpr size_t kEchoPayloadSize = 32;
inline constexpr uint8_t kEchoPayloadByte = 0x45;
inline constexpr size_t kEchoRequestSize = kIcmpHeaderSize + kEchoPayloadSize;

// What ties a reply to its request. Identifier and sequence in host order, the destination in
// network order.
struct EchoTicket {
  uint16_t identifier = 0;
  uint16_t sequence = 0;
  uint32_t destination = 0;
};

// What a matched message says: who sent it (network order) and the status it stands for.
struct EchoReport {
  uint32_t from = 0;
  uint32_t status = 0;
};

using EchoRequestBytes = std::array<uint8_t, kEchoRequestSize>;

// The request with the checksum filled in. An ICMPv6 request leaves its checksum 0: it covers
// the addresses as well, so the kernel fills it in.
EchoRequestBytes BuildEchoRequest(uint16_t identifier, uint16_t sequence,
                                  IpAddress::Family family = IpAddress::Family::kIpv4);

// The Internet checksum (RFC 1071) of the bytes, ready to be stored in network order; a
// message whose stored checksum is right sums to 0.
uint16_t InternetChecksum(const uint8_t* bytes, size_t length);

// A whole IPv4 datagram as a raw ICMP socket receives it. True when it is the echo reply to the
// ticket's request, or an ICMP error report that quotes that request (identifier, sequence and
// destination all equal); `report` is then filled. Everything else (other requests' replies,
// reports about other packets, damaged or cut datagrams) gives false.
bool MatchRawReply(const uint8_t* data, size_t length, const EchoTicket& ticket,
                   EchoReport* report);

// An ICMPv6 message as a raw ICMPv6 socket receives it: without the IPv6 header (the sender
// comes apart), its checksum checked by the kernel. True when it is the echo reply to request
// (`identifier`, `sequence`), or an ICMPv6 error report that quotes that request to
// `destination` (an IPv6 header with no extension headers, then the request); `status` is then
// filled. Everything else gives false.
bool MatchRawIcmpv6Reply(const uint8_t* data, size_t length, uint16_t identifier, uint16_t sequence,
                         const IpAddress& destination, uint32_t* status);

// An ICMP (or ICMPv6) message as a datagram socket of that family receives it, without the IP
// header. The kernel picks the identifier and delivers only replies that carry it, so the
// sequence decides: true for the echo reply to request `sequence`.
bool MatchDatagramReply(const uint8_t* data, size_t length, uint16_t sequence,
                        IpAddress::Family family = IpAddress::Family::kIpv4);

// The part of a request that a datagram socket's error queue hands back with a report (the
// quoted ICMP header onward): true when it is our echo request `sequence`.
bool MatchQuotedRequest(const uint8_t* data, size_t length, uint16_t sequence,
                        IpAddress::Family family = IpAddress::Family::kIpv4);

// Whether an IPv6 echo can have one host to answer it: not ::, a group, or an IPv4-mapped
// address (which names an IPv4 host).
bool IsSingleHostIpv6(const IpAddress& address);
