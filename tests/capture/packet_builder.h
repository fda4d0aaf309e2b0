#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/ip_address.h"

// IPv4 and IPv6 packets and frames made byte by byte for the decoder and filter tests.

// An IPv6 extension header: hop-by-hop (0), routing (43) or destination options (60) with
// `units` eight-byte units after the first eight, or a fragment header (44) with its offset and
// flags field; any other type gets the eight bytes of the first kind.
struct Extension {
  uint8_t type = 0;
  uint8_t units = 0;
  uint16_t fragment = 0;
};

struct PacketFields {
  uint8_t protocol = 6;               // 6 TCP, 17 UDP
  uint8_t ipWords = 5;                // IPv4 header length in 32-bit words
  uint8_t tcpWords = 5;               // TCP data offset
  uint16_t fragment = 0;              // flags and fragment offset field
  uint32_t source = 0x0200000A;       // 10.0.0.2, network byte order
  uint32_t destination = 0x0100000A;  // 10.0.0.1
  uint16_t sourcePort = 1025;         // host order
  uint16_t destinationPort = 80;
  std::string payload;
  // IPv6 instead: these addresses, the extension headers in order before TCP or UDP.
  bool ipv6 = false;
  IpAddress source6 = *ParseIpv6Address("2001:db8::2");
  IpAddress destination6 = *ParseIpv6Address("2001:db8::1");
  std::vector<Extension> extensions;
};

// The packet; its total (IPv6: payload) length field covers exactly the headers and payload.
std::vector<uint8_t> BuildIpPacket(const PacketFields& fields);

// An Ethernet frame around an IP packet (type 0x0800, or 0x86DD for version 6), optionally
// behind VLAN tags.
std::vector<uint8_t> EthernetFrame(const std::vector<uint8_t>& packet, int vlanTags = 0);
