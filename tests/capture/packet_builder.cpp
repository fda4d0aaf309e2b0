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

}  // namespace

std::vector<uint8_t> BuildIpPacket(const PacketFields& fields) {
  const size_t ipLength = size_t{fields.ipWords} * 4;
  // A TCP header is never shorter than 20 bytes here, whatever its data offset says.
  const size_t transport =
      fields.protocol == 6 ? std::max<size_t>(size_t{fields.tcpWords} * 4, 20) : 8;
  std::vector<uint8_t> p(ipLength + transport + fields.payload.size(), 0);
  p[0] = uint8_t(0x40 | fields.ipWords);
  Put16(p, 2, uint16_t(p.size()));
  Put16(p, 6, fields.fragment);
  p[8] = 64;
  p[9] = fields.protocol;
  Put32Raw(p, 12, fields.source);
  Put32Raw(p, 16, fields.destination);
  for (size_t i = 20; i < ipLength; ++i) p[i] = 0x01;  // options: no-operation
  Put16(p, ipLength, fields.sourcePort);
  Put16(p, ipLength + 2, fields.destinationPort);
  if (fields.protocol == 6) p[ipLength + 12] = uint8_t(fields.tcpWords << 4);
  std::copy(fields.payload.begin(), fields.payload.end(), p.begin() + long(ipLength + transport));
  return p;
}

std::vector<uint8_t> EthernetFrame(const std::vector<uint8_t>& packet, int vlanTags) {
  std::vector<uint8_t> frame(12, 0xAA);
  for (int i = 0; i < vlanTags; ++i) frame.insert(frame.end(), {0x81, 0x00, 0x00, 0x07});
  frame.insert(frame.end(), {0x08, 0x00});
  frame.insert(frame.end(), packet.begin(), packet.end());
  return frame;
}
