#include "capture/captured_packet.h"

#include <cstring>

namespace {

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint32_t kFamilyInet = 2;
constexpr size_t kIpMinHeader = 20;
constexpr size_t kTcpMinHeader = 20;
constexpr size_t kUdpHeader = 8;
constexpr uint8_t kProtocolTcp = 6;
constexpr uint8_t kProtocolUdp = 17;
// VLAN tags followed in one Ethernet frame; real frames carry one or two.
constexpr int kMaxVlanTags = 8;

// Big-endian 16 bits at `at`; the caller has checked that they are there.
uint16_t Be16(const uint8_t* bytes, size_t at) {
  return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

int EthernetIpOffset(const uint8_t* frame, size_t length) {
  size_t typeAt = 12;
  for (int tags = 0; tags <= kMaxVlanTags; ++tags) {
    if (length < typeAt + 2) return -1;
    const uint16_t type = Be16(frame, typeAt);
    if (type == kEtherTypeIpv4) return static_cast<int>(typeAt + 2);
    if (type != 0x8100 && type != 0x88A8 && type != 0x9100) return -1;
    typeAt += 4;  // the tag's control field, then the next type
  }
  return -1;
}

// The 4-byte address family of the loopback link types, in either byte order.
int LoopbackIpOffset(const uint8_t* frame, size_t length) {
  if (length < 4) return -1;
  uint32_t family;
  std::memcpy(&family, frame, 4);
  const uint32_t swapped = __builtin_bswap32(family);
  return family == kFamilyInet || swapped == kFamilyInet ? 4 : -1;
}

}  // namespace

int IpHeaderOffset(int linkType, const uint8_t* frame, size_t length) {
  if (frame == nullptr) return -1;
  switch (linkType) {
    case kLinkEthernet:
      return EthernetIpOffset(frame, length);
    case kLinkRaw:
    case kLinkRawAlt:
    case kLinkRawIp:
    case kLinkIpv4:
      return 0;
    case kLinkNull:
    case kLinkLoop:
      return LoopbackIpOffset(frame, length);
    case kLinkLinuxSll:
      return length >= 16 && Be16(frame, 14) == kEtherTypeIpv4 ? 16 : -1;
    case kLinkLinuxSll2:
      return length >= 20 && Be16(frame, 0) == kEtherTypeIpv4 ? 20 : -1;
    default:
      return -1;
  }
}

size_t PayloadOffset(const uint8_t* packet, size_t length) {
  if (packet == nullptr || length < kIpMinHeader) return 0;
  if ((packet[0] >> 4) != 4) return 0;
  const size_t headerLength = size_t{packet[0] & 0x0Fu} * 4;
  const size_t totalLength = Be16(packet, 2);
  if (headerLength < kIpMinHeader || totalLength < headerLength || totalLength > length) return 0;
  if ((Be16(packet, 6) & 0x1FFF) != 0) return 0;  // a later fragment: no transport header

  // From here on every read stays below totalLength, which is within the captured bytes.
  switch (packet[9]) {
    case kProtocolTcp: {
      if (totalLength < headerLength + kTcpMinHeader) return 0;
      const size_t tcpHeader = size_t{packet[headerLength + 12]} / 16 * 4;
      if (tcpHeader < kTcpMinHeader || totalLength < headerLength + tcpHeader) return 0;
      return headerLength + tcpHeader;
    }
    case kProtocolUdp:
      return totalLength < headerLength + kUdpHeader ? 0 : headerLength + kUdpHeader;
    default:
      return 0;
  }
}

bool DecodeIpPacket(const uint8_t* packet, size_t length, CapturedPacket* record) {
  if (record == nullptr) return false;
  const size_t offset = PayloadOffset(packet, length);
  if (offset == 0) return false;
  const size_t totalLength = Be16(packet, 2);  // PayloadOffset checked it against `length`
  if (offset >= totalLength) return false;     // no payload

  const size_t headerLength = size_t{packet[0] & 0x0Fu} * 4;
  record->isTcp = packet[9] == kProtocolTcp ? 1 : 0;
  std::memcpy(&record->sourceAddress, packet + 12, 4);
  std::memcpy(&record->destinationAddress, packet + 16, 4);
  std::memcpy(&record->sourcePort, packet + headerLength, 2);
  std::memcpy(&record->destinationPort, packet + headerLength + 2, 2);
  record->payloadLength = static_cast<uint16_t>(totalLength - offset);
  std::memcpy(record->payload, packet + offset, totalLength - offset);
  return true;
}

bool DecodeFrame(int linkType, const uint8_t* frame, size_t length, CapturedPacket* record) {
  const int at = IpHeaderOffset(linkType, frame, length);
  if (at < 0) return false;
  return DecodeIpPacket(frame + at, length - static_cast<size_t>(at), record);
}
