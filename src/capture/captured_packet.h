#pragma once

#include <cstddef>
#include <cstdint>

#include "base/ip_address.h"

// Decoding of captured frames into the TCP or UDP packets the Packet Capture pane shows.

// Largest IPv4 packet, and so the largest payload a packet can carry (an IPv6 packet's payload
// length field has the same limit).
inline constexpr size_t kMaxIpPacket = 65535;

// Extension headers walked in one IPv6 packet before its TCP or UDP header; a packet with more
// is skipped. Real packets carry one or two.
inline constexpr int kMaxIpv6ExtensionHeaders = 8;

// One decoded TCP or UDP packet that carries payload. Ports keep network byte order as they
// stand in the packet (an IPv4 address its network-order value); the payload is copied whole.
struct CapturedPacket {
  int32_t isTcp = 0;              // 1 TCP, 0 UDP
  IpAddress sourceAddress;        // IPv4 or IPv6
  IpAddress destinationAddress;   // of the same family
  uint16_t sourcePort = 0;        // network byte order
  uint16_t destinationPort = 0;   // network byte order
  uint16_t payloadLength = 0;     // bytes of `payload` in use
  uint8_t payload[kMaxIpPacket];  // the TCP or UDP payload
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
inline constexpr int kLinkIpv6 = 229;       // raw IPv6
inline constexpr int kLinkLinuxSll2 = 276;  // Linux cooked capture, version 2

// One captured frame, whole with its link header as far as it was captured, as a capture file
// or a capture's stream holds it.
struct CaptureFrame {
  int64_t seconds = 0;
  int32_t microseconds = 0;
  uint32_t capturedLength = 0;  // the bytes at `bytes`
  uint32_t wireLength = 0;      // the frame's length when it was captured
  const uint8_t* bytes = nullptr;
};

// The kernel's counts of a capture since it opened: packets that passed the kernel filter, and
// those of them lost because the ring was full.
struct CaptureCounts {
  uint64_t received = 0;
  uint64_t dropped = 0;
};

// Whether the decoder reads frames of the link type.
bool IsKnownLinkType(int linkType);

// The offset of the IP header in a frame of the given link type, or -1 when the frame does not
// carry IPv4 or IPv6 (another protocol, an unknown link type, a cut link header). `*version`
// (when given) is the IP version the link header announces: 4, 6, or 0 when only the packet's
// own version field tells (raw IP).
int IpHeaderOffset(int linkType, const uint8_t* frame, size_t length, int* version = nullptr);

// The byte offset of the TCP or UDP payload within an IPv4 or IPv6 packet, from its real header
// lengths, or 0 when the packet is not a whole TCP or UDP packet: another protocol, another IP
// version, a non-first fragment, a header length that does not fit, more than
// kMaxIpv6ExtensionHeaders extension headers, or a header cut short. The packet's end is the
// one its IP header gives; a packet whose captured bytes end before that is cut short too.
size_t PayloadOffset(const uint8_t* packet, size_t length);

// Decodes one IPv4 or IPv6 packet into `record`: true when it is a TCP or UDP packet with
// payload, false (the packet skipped) otherwise. Every read is bounded by `length`.
bool DecodeIpPacket(const uint8_t* packet, size_t length, CapturedPacket* record);

// The same from a whole frame of the link type.
bool DecodeFrame(int linkType, const uint8_t* frame, size_t length, CapturedPacket* record);
