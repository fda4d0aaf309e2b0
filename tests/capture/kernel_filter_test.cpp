// The kernel form of the capture filter agrees with the decoder and PacketPassesFilter: random
// filters, random packets (many of them damaged), each judged both ways.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <memory>
#include <random>

#include "capture/capture_socket.h"
#include "capture/filter_rules.h"
#include "packet_builder.h"

namespace {

constexpr uint32_t kAddresses[] = {0x0100000A, 0x0200000A, 0x0300000A, 0xFFFFFFFF};
constexpr uint16_t kPorts[] = {80, 443, 1025, 53, 65535};

template <typename T, size_t N>
T Pick(std::mt19937& random, const T (&pool)[N]) {
  return pool[random() % N];
}

CaptureFilter RandomFilter(std::mt19937& random) {
  CaptureFilter filter;
  filter.includeTcp = int32_t(random() % 2);
  filter.includeUdp = int32_t(random() % 2);
  filter.portMode = int32_t(random() % 4);
  filter.addressMode = int32_t(random() % 4);
  const int ports = int(random() % 4), addresses = int(random() % 4);
  for (int i = 0; i < ports; ++i) filter.ports[i] = NetworkPort(Pick(random, kPorts));
  for (int i = 0; i < addresses; ++i) filter.addresses[i] = Pick(random, kAddresses);
  if (random() % 8 == 0) filter.ports[ports + 1] = NetworkPort(80);  // behind the list's end
  return filter;
}

std::vector<uint8_t> RandomPacket(std::mt19937& random) {
  PacketFields fields;
  const uint8_t protocols[] = {6, 6, 17, 17, 1};
  fields.protocol = Pick(random, protocols);
  const uint8_t ipWords[] = {5, 5, 5, 6, 15, 4};
  fields.ipWords = Pick(random, ipWords);
  fields.tcpWords = uint8_t(random() % 4 == 0 ? random() % 16 : 5);
  const uint16_t fragments[] = {0, 0, 0, 0x4000, 0x2000, 0x0001, 0x2010};
  fields.fragment = Pick(random, fragments);
  fields.source = Pick(random, kAddresses);
  fields.destination = Pick(random, kAddresses);
  fields.sourcePort = Pick(random, kPorts);
  fields.destinationPort = Pick(random, kPorts);
  fields.payload.assign(random() % 4, 'p');
  std::vector<uint8_t> packet = BuildIpPacket(fields);
  switch (random() % 8) {
    case 0:  // cut short
      packet.resize(random() % (packet.size() + 1));
      break;
    case 1:  // padded
      packet.resize(packet.size() + random() % 8, 0);
      break;
    case 2:  // the total length says anything at all
      packet[2] = uint8_t(random() % 2);
      packet[3] = uint8_t(random());
      break;
    case 3:  // another IP version
      packet[0] = uint8_t((random() % 16) << 4 | (packet[0] & 0x0F));
      break;
    default:
      break;
  }
  return packet;
}

struct Compiled {
  pcap_t* dead = nullptr;
  bpf_program program{};
  bool ok = false;
  Compiled(int linkType, const std::string& expression) {
    dead = pcap_open_dead(linkType, kCaptureSnapLength);
    ok = pcap_compile(dead, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0;
  }
  ~Compiled() {
    if (ok) pcap_freecode(&program);
    pcap_close(dead);
  }
  bool accepts(const std::vector<uint8_t>& frame) const {
    pcap_pkthdr header{};
    header.caplen = header.len = bpf_u_int32(frame.size());
    return pcap_offline_filter(&program, &header, frame.data()) != 0;
  }
};

}  // namespace

TEST(KernelFilter, AgreesWithDecodingAndPacketPassesFilter) {
  std::mt19937 random(20261207);
  auto record = std::make_unique<CapturedPacket>();
  int shown = 0, judged = 0;
  for (int f = 0; f < 400; ++f) {
    const CaptureFilter filter = RandomFilter(random);
    const std::string expression = KernelFilterExpression(filter);
    for (const int linkType : {kLinkEthernet, kLinkRaw}) {
      const Compiled kernel(linkType, expression);
      ASSERT_TRUE(kernel.ok) << expression << ": " << pcap_geterr(kernel.dead);
      for (int p = 0; p < 150; ++p) {
        const std::vector<uint8_t> packet = RandomPacket(random);
        const std::vector<uint8_t> frame =
            linkType == kLinkEthernet ? EthernetFrame(packet) : packet;
        const bool user = DecodeFrame(linkType, frame.data(), frame.size(), record.get()) &&
                          PacketPassesFilter(filter, *record) == 1;
        ASSERT_EQ(kernel.accepts(frame), user)
            << expression << "\nlink " << linkType << ", packet of " << packet.size()
            << " bytes, filter " << f << ", packet " << p;
        shown += user;
        ++judged;
      }
    }
  }
  // The random mix reaches both answers often.
  EXPECT_GT(shown, judged / 50);
  EXPECT_GT(judged - shown, judged / 2);
}
