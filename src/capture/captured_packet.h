#pragma once

#include <cstddef>
#include <cstdint>

// Decoding of captured frames into the TCP or UDP packets the Packet Capture pane shows.

// Largest IPv4 packet, and so the largest payload a packet can carry.
inline constexpr size_t kMaxIpPacket = 65535;

// One decoded TCP or UDP packet that carries payload. Addresses and ports keep network byte
// order as they stand in the packet; the payload is copied whole.
struct CapturedPacket {
  int32_t isTcp = 0;                // 1 TCP, 0 UDP
  uint32_t sourceAddress = 0;       // IPv4, network byte order
  uint32_t destinationAddress = 0;  // IPv4, network byte order
  uint16_t sourcePort = 0;          // network byte order
  uint16_t destinationPort = 0;     // network byte order
  uint16_t payloadLength = 0;       // bytes of `payload` in use
  uint8_t payload[kMaxIpPacket];    // the TCP or UDP payload
};

// Link types of capture handles (their numbers as the capture library reports them).
inline constexpr int kLinkNull = 0;         // BSD loopback: 4-byte address family, host order
inline constexpr int kLinkEthernet = 1;     // Ethernet, possibly with 802.1Q / 802.1ad tags
inline constexpr int kLinkRaw = 12;         // raw IP
inline constexpr int kLinkRawAlt = 14;      // raw IP, as some systems number it
inline constexpr int kLinkLoop = 108;       // loopback: 4-byte address family, network order
inline constexpr int kLinkRawIp = 101;      // raw IP, the file-format number
inline constexpr int kLinkLinuxSll = 113;   // Linux cooked capture, version 1
inline constexpr int kLinkIpv4 = 228;       // raw IPv4
inline constexpr int kLinkLinuxSll2 = 276;  // Linux cooked capture, version 2

// The offset of the IPv4 header in a frame of the given link type, or -1 when the frame does
// not carry IPv4 (another protocol, an unknown link type, a cut link header).
int IpHeaderOffset(int linkType, const uint8_t* frame, size_t length);

// The byte offset of the TCP or UDP payload within an IPv4 packet, from its real header
// lengths, or 0 when the packet is not a whole TCP or UDP packet: another protocol, not
// IPv4, a non-first fragment, a header length that does not fit, or a TCP or UDP header cut
// short. The packet's end is its IPv4 total length; a packet whose captured bytes end before
// that is cut short too.
size_t PayloadOffset(const uint8_t* packet, size_t length);

// Decodes one IPv4 packet into `record`: true when it is a TCP or UDP packet with payload,
// false (the packet skipped) otherwise. Every read is bounded by `length`.
bool DecodeIpPacket(const uint8_t* packet, size_t length, CapturedPacket* record);

// The same from a whole frame of the link type.
bool DecodeFrame(int linkType, const uint8_t* frame, size_t length, CapturedPacket* record);
