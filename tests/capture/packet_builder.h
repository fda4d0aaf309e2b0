#pragma once

#include <cstdint>
#include <string>
#include <vector>

// IPv4 packets and frames made byte by byte for the decoder and filter tests.
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
};

// The packet; its total length field covers exactly the headers and payload.
std::vector<uint8_t> BuildIpPacket(const PacketFields& fields);

// An Ethernet frame around an IPv4 packet (type 0x0800), optionally behind VLAN tags.
std::vector<uint8_t> EthernetFrame(const std::vector<uint8_t>& packet, int vlanTags = 0);
