#include "capture/captured_packet.h"

#include <cstring>

#include "shell/byte_reader.h"

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

bool IsVlanTag(uint16_t type) {
  return type == 0x8100 || type == 0x88A8 || type == 0x9100;
}

int EthernetIpOffset(ByteReader frame) {
  size_t typeAt = 12;
  for (int tags = 0; tags <= kMaxVlanTags; ++tags) {
    const uint16_t type = frame.u16(typeAt);
    if (frame.failed()) return -1;
    if (type == kEtherTypeIpv4) return static_cast<int>(typeAt + 2);
    if (!IsVlanTag(type)) return -1;
    typeAt += 4;  // the tag's control field, then the next type
  }
  return -1;
}

// The 4-byte address family of the loopback link types, in either byte order.
int LoopbackIpOffset(ByteReader frame) {
  const uint32_t family = frame.address(0);
  if (frame.failed()) return -1;
  return family == kFamilyInet || __builtin_bswap32(family) == kFamilyInet ? 4 : -1;
}

}  // namespace

int IpHeaderOffset(int linkType, const uint8_t* frame, size_t length) {
  ByteReader bytes(frame, length);
  switch (linkType) {
    case kLinkEthernet:
      return EthernetIpOffset(bytes);
    case kLinkRaw:
    case kLinkRawAlt:
    case kLinkRawIp:
    case kLinkIpv4:
      return frame != nullptr ? 0 : -1;
    case kLinkNull:
    case kLinkLoop:
      return LoopbackIpOffset(bytes);
    case kLinkLinuxSll:
      return bytes.has(0, 16) && bytes.u16(14) == kEtherTypeIpv4 ? 16 : -1;
    case kLinkLinuxSll2:
      return bytes.has(0, 20) && bytes.u16(0) == kEtherTypeIpv4 ? 20 : -1;
    default:
      return -1;
  }
}

size_t PayloadOffset(const uint8_t* packet, size_t length) {
  ByteReader ip(packet, length);
  if (!ip.has(0, kIpMinHeader) || (ip.u8(0) >> 4) != 4) return 0;
  const size_t headerLength = size_t{ip.u8(0) & 0x0Fu} * 4;
  const size_t totalLength = ip.u16(2);
  if (headerLength < kIpMinHeader || totalLength < headerLength || totalLength > length) return 0;
  if ((ip.u16(6) & 0x1FFF) != 0) return 0;  // a later fragment: no transport header

  switch (ip.u8(9)) {
    case kProtocolTcp: {
      if (totalLength < headerLength + kTcpMinHeader) return 0;
      const size_t tcpHeader = size_t{ip.u8(headerLength + 12)} / 16 * 4;
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
  // PayloadOffset has checked the headers against the captured bytes.
  ByteReader ip(packet, length);
  const size_t totalLength = ip.u16(2);
  if (offset >= totalLength) return false;  // no payload

  const size_t headerLength = size_t{ip.u8(0) & 0x0Fu} * 4;
  record->isTcp = ip.u8(9) == kProtocolTcp ? 1 : 0;
  record->sourceAddress = ip.address(12);
  record->destinationAddress = ip.address(16);
  record->sourcePort = ip.port(headerLength);
  record->destinationPort = ip.port(headerLength + 2);
  record->payloadLength = static_cast<uint16_t>(totalLength - offset);
  std::memcpy(record->payload, packet + offset, totalLength - offset);
  return true;
}

bool DecodeFrame(int linkType, const uint8_t* frame, size_t length, CapturedPacket* record) {
  const int at = IpHeaderOffset(linkType, frame, length);
  if (at < 0) return false;
  return DecodeIpPacket(frame + at, length - static_cast<size_t>(at), record);
}
