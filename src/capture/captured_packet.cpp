#include "capture/captured_packet.h"

#include <cstring>

#include "base/byte_reader.h"

namespace {

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeIpv6 = 0x86DD;
constexpr size_t kIpMinHeader = 20;
constexpr size_t kIpv6Header = 40;
constexpr size_t kTcpMinHeader = 20;
constexpr size_t kUdpHeader = 8;
constexpr size_t kFragmentHeader = 8;
constexpr uint8_t kProtocolTcp = 6;
constexpr uint8_t kProtocolUdp = 17;
// IPv6 extension headers the walk goes through.
constexpr uint8_t kHopByHop = 0;
constexpr uint8_t kRouting = 43;
constexpr uint8_t kFragment = 44;
constexpr uint8_t kDestinationOptions = 60;
// VLAN tags followed in one Ethernet frame; real frames carry one or two.
constexpr int kMaxVlanTags = 8;

bool IsVlanTag(uint16_t type) {
  return type == 0x8100 || type == 0x88A8 || type == 0x9100;
}

// The IP version an Ethernet type (or a cooked capture's protocol) announces, 0 for others.
int VersionOfEtherType(uint16_t type) {
  return type == kEtherTypeIpv4 ? 4 : type == kEtherTypeIpv6 ? 6 : 0;
}

int EthernetIpOffset(ByteReader frame, int* version) {
  size_t typeAt = 12;
  for (int tags = 0; tags <= kMaxVlanTags; ++tags) {
    const uint16_t type = frame.u16(typeAt);
    if (frame.failed()) return -1;
    if ((*version = VersionOfEtherType(type)) != 0) return static_cast<int>(typeAt + 2);
    if (!IsVlanTag(type)) return -1;
    typeAt += 4;  // the tag's control field, then the next type
  }
  return -1;
}

// The IP version of a loopback link type's 4-byte address family, written in either byte order
// by the system that captured: AF_INET is 2 everywhere, AF_INET6 is 10 on Linux, 24, 28 or 30
// on the BSDs and macOS.
int VersionOfFamily(uint32_t family) {
  switch (family) {
    case 2:
      return 4;
    case 10:
    case 24:
    case 28:
    case 30:
      return 6;
    default:
      return 0;
  }
}

int LoopbackIpOffset(ByteReader frame, int* version) {
  const uint32_t family = frame.address(0);
  if (frame.failed()) return -1;
  *version = VersionOfFamily(family);
  if (*version == 0) *version = VersionOfFamily(__builtin_bswap32(family));
  return *version != 0 ? 4 : -1;
}

int CookedIpOffset(ByteReader frame, size_t headerLength, size_t typeAt, int* version) {
  if (!frame.has(0, headerLength)) return -1;
  *version = VersionOfEtherType(frame.u16(typeAt));
  return *version != 0 ? static_cast<int>(headerLength) : -1;
}

// Where a packet's TCP or UDP header and payload lie; `end` is where the IP header says the
// packet ends.
struct Transport {
  uint8_t protocol = 0;
  size_t headerAt = 0;
  size_t payloadAt = 0;
  size_t end = 0;
};

// The transport header at `at` of a packet ending at `end`, checked to lie whole within it.
bool ReadTransport(ByteReader& ip, uint8_t protocol, size_t at, size_t end, Transport* t) {
  size_t header = 0;
  if (protocol == kProtocolTcp) {
    if (end - at < kTcpMinHeader) return false;
    header = size_t{ip.u8(at + 12)} / 16 * 4;
    if (header < kTcpMinHeader) return false;
  } else if (protocol == kProtocolUdp) {
    header = kUdpHeader;
  } else {
    return false;
  }
  if (end - at < header) return false;
  *t = Transport{protocol, at, at + header, end};
  return true;
}

bool FindIpv4Transport(ByteReader& ip, Transport* t) {
  if (!ip.has(0, kIpMinHeader)) return false;
  const size_t headerLength = size_t{ip.u8(0) & 0x0Fu} * 4;
  const size_t totalLength = ip.u16(2);
  if (headerLength < kIpMinHeader || totalLength < headerLength || totalLength > ip.length()) {
    return false;
  }
  if ((ip.u16(6) & 0x1FFF) != 0) return false;  // a later fragment: no transport header
  return ReadTransport(ip, ip.u8(9), headerLength, totalLength, t);
}

// Through the extension headers to the TCP or UDP header. A fragment header is followed only in
// a packet's first fragment, which holds the transport header; the later ones have none.
bool FindIpv6Transport(ByteReader& ip, Transport* t) {
  if (!ip.has(0, kIpv6Header)) return false;
  const size_t end = kIpv6Header + ip.u16(4);
  if (end > ip.length()) return false;
  uint8_t next = ip.u8(6);
  size_t at = kIpv6Header;
  for (int walked = 0; next != kProtocolTcp && next != kProtocolUdp; ++walked) {
    if (walked == kMaxIpv6ExtensionHeaders) return false;
    if (next == kFragment) {
      if (end - at < kFragmentHeader || (ip.u16(at + 2) & 0xFFF8) != 0) return false;
      next = ip.u8(at);
      at += kFragmentHeader;
    } else if (next == kHopByHop || next == kRouting || next == kDestinationOptions) {
      if (end - at < 2) return false;
      const size_t length = (size_t{ip.u8(at + 1)} + 1) * 8;
      if (end - at < length) return false;
      next = ip.u8(at);
      at += length;
    } else {
      return false;
    }
  }
  return ReadTransport(ip, next, at, end, t);
}

bool FindTransport(ByteReader& ip, Transport* t) {
  switch (ip.u8(0) >> 4) {
    case 4:
      return FindIpv4Transport(ip, t);
    case 6:
      return FindIpv6Transport(ip, t);
    default:
      return false;
  }
}

}  // namespace

bool IsKnownLinkType(int linkType) {
  switch (linkType) {
    case kLinkNull:
    case kLinkEthernet:
    case kLinkRaw:
    case kLinkRawAlt:
    case kLinkLoop:
    case kLinkRawIp:
    case kLinkLinuxSll:
    case kLinkIpv4:
    case kLinkIpv6:
    case kLinkLinuxSll2:
      return true;
    default:
      return false;
  }
}

int IpHeaderOffset(int linkType, const uint8_t* frame, size_t length, int* version) {
  int ignored = 0;
  int& announced = version != nullptr ? *version : ignored;
  announced = 0;
  ByteReader bytes(frame, length);
  switch (linkType) {
    case kLinkEthernet:
      return EthernetIpOffset(bytes, &announced);
    case kLinkRaw:
    case kLinkRawAlt:
    case kLinkRawIp:
      return frame != nullptr ? 0 : -1;
    case kLinkIpv4:
    case kLinkIpv6:
      announced = linkType == kLinkIpv4 ? 4 : 6;
      return frame != nullptr ? 0 : -1;
    case kLinkNull:
    case kLinkLoop:
      return LoopbackIpOffset(bytes, &announced);
    case kLinkLinuxSll:
      return CookedIpOffset(bytes, 16, 14, &announced);
    case kLinkLinuxSll2:
      return CookedIpOffset(bytes, 20, 0, &announced);
    default:
      return -1;
  }
}

size_t PayloadOffset(const uint8_t* packet, size_t length) {
  ByteReader ip(packet, length);
  Transport t;
  return FindTransport(ip, &t) ? t.payloadAt : 0;
}

bool DecodeIpPacket(const uint8_t* packet, size_t length, CapturedPacket* record) {
  if (record == nullptr) return false;
  ByteReader ip(packet, length);
  Transport t;
  if (!FindTransport(ip, &t) || t.payloadAt >= t.end) return false;  // none, or no payload
  // FindTransport has checked the headers against the captured bytes.
  if ((ip.u8(0) >> 4) == 4) {
    record->sourceAddress = IpAddress::Ipv4(ip.address(12));
    record->destinationAddress = IpAddress::Ipv4(ip.address(16));
  } else {
    record->sourceAddress = IpAddress::Ipv6(packet + 8);
    record->destinationAddress = IpAddress::Ipv6(packet + 24);
  }
  record->isTcp = t.protocol == kProtocolTcp ? 1 : 0;
  record->sourcePort = ip.port(t.headerAt);
  record->destinationPort = ip.port(t.headerAt + 2);
  record->payloadLength = static_cast<uint16_t>(t.end - t.payloadAt);
  std::memcpy(record->payload, packet + t.payloadAt, t.end - t.payloadAt);
  return true;
}

bool DecodeFrame(int linkType, const uint8_t* frame, size_t length, CapturedPacket* record) {
  int version = 0;
  const int at = IpHeaderOffset(linkType, frame, length, &version);
  if (at < 0 || size_t(at) >= length) return false;
  const uint8_t* packet = frame + at;
  // The packet must be of the version its link header announces.
  if (version != 0 && (packet[0] >> 4) != version) return false;
  return DecodeIpPacket(packet, length - static_cast<size_t>(at), record);
}
