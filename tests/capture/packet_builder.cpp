#include "packet_builder.h"

#include <algorithm>

namespace {

void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes[at] = uint8_t(value >> 8);
  bytes[at + 1] = uint8_t(value);
}

void Put32Raw(std::vector<uint8_t>& bytes, size_t at, uint32_t networkOrder) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(networkOrder >> (8 * i));
}

// The TCP or UDP header and payload.
std::vector<uint8_t> TransportPart(const PacketFields& fields) {
  // A TCP header is never shorter than 20 bytes here, whatever its data offset says.
  const size_t header =
      fields.protocol == 6 ? std::max<size_t>(size_t{fields.tcpWords} * 4, 20) : 8;
  std::vector<uint8_t> t(header, 0);
  Put16(t, 0, fields.sourcePort);
  Put16(t, 2, fields.destinationPort);
  if (fields.protocol == 6) t[12] = uint8_t(fields.tcpWords << 4);
  t.insert(t.end(), fields.payload.begin(), fields.payload.end());
  return t;
}

std::vector<uint8_t> BuildIpv6Packet(const PacketFields& fields) {
  std::vector<uint8_t> p(40, 0);
  p[0] = 0x60;
  p[6] = fields.extensions.empty() ? fields.protocol : fields.extensions[0].type;
  p[7] = 64;
  std::copy(fields.source6.bytes().begin(), fields.source6.bytes().end(), p.begin() + 8);
  std::copy(fields.destination6.bytes().begin(), fields.destination6.bytes().end(), p.begin() + 24);
  for (size_t i = 0; i < fields.extensions.size(); ++i) {
    const Extension& e = fields.extensions[i];
    const bool fragment = e.type == 44;
    const size_t at = p.size();
    p.resize(at + (fragment ? 8 : 8 * (size_t{e.units} + 1)), 0);
    p[at] = i + 1 < fields.extensions.size() ? fields.extensions[i + 1].type : fields.protocol;
    if (fragment) {
      Put16(p, at + 2, e.fragment);
    } else {
      p[at + 1] = e.units;
      for (size_t b = at + 2; b < p.size(); ++b) p[b] = 0x01;  // padding options
    }
  }
  const std::vector<uint8_t> transport = TransportPart(fields);
  p.insert(p.end(), transport.begin(), transport.end());
  Put16(p, 4, uint16_t(p.size() - 40));
  return p;
}

}  // namespace

std::vector<uint8_t> BuildIpPacket(const PacketFields& fields) {
  if (fields.ipv6) return BuildIpv6Packet(fields);
  const size_t ipLength = size_t{fields.ipWords} * 4;
  std::vector<uint8_t> p(ipLength, 0);
  const std::vector<uint8_t> transport = TransportPart(fields);
  p.insert(p.end(), transport.begin(), transport.end());
  p[0] = uint8_t(0x40 | fields.ipWords);
  Put16(p, 2, uint16_t(p.size()));
  Put16(p, 6, fields.fragment);
  p[8] = 64;
  p[9] = fields.protocol;
  Put32Raw(p, 12, fields.source);
  Put32Raw(p, 16, fields.destination);
  for (size_t i = 20; i < ipLength; ++i) p[i] = 0x01;  // options: no-operation
  return p;
}

std::vector<uint8_t> EthernetFrame(const std::vector<uint8_t>& packet, int vlanTags) {
  std::vector<uint8_t> frame(12, 0xAA);
  for (int i = 0; i < vlanTags; ++i) frame.insert(frame.end(), {0x81, 0x00, 0x00, 0x07});
  const bool ipv6 = !packet.empty() && packet[0] >> 4 == 6;
  frame.insert(frame.end(), {uint8_t(ipv6 ? 0x86 : 0x08), uint8_t(ipv6 ? 0xDD : 0x00)});
  frame.insert(frame.end(), packet.begin(), packet.end());
  return frame;
}
