// The kernel form of the capture filter agrees with the decoder and PacketPassesFilter: random
// filters, random IPv4 and IPv6 packets (many of them damaged), each judged both ways.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <memory>
#include <random>

#include "capture/capture_socket.h"
#include "capture/filter_rules.h"
#include "packet_builder.h"

namespace {

constexpr uint32_t kAddresses[] = {0x0100000A, 0x0200000A, 0x0300000A, 0xFFFFFFFF};
const IpAddress kAddresses6[] = {*ParseIpv6Address("2001:db8::1"), *ParseIpv6Address("2001:db8::2"),
                                 *ParseIpv6Address("2001:db8:0:1::1"),
                                 *ParseIpv6Address("::ffff:10.0.0.1")};
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
  for (int i = 0; i < addresses; ++i) {
    filter.addresses[i] =
        random() % 2 ? IpAddress::Ipv4(Pick(random, kAddresses)) : Pick(random, kAddresses6);
  }
  if (random() % 8 == 0) filter.ports[ports + 1] = NetworkPort(80);  // behind the list's end
  return filter;
}

// The kernel follows one extension header after the fixed header: an IPv6 packet with a
// second one behind it may pass for the window to judge.
bool KernelMayLetThrough(const std::vector<uint8_t>& packet) {
  const auto walked = [](uint8_t type) {
    return type == 0 || type == 43 || type == 44 || type == 60;
  };
  if (packet.size() <= 40 || packet[0] >> 4 != 6 || !walked(packet[6])) return false;
  return walked(packet[40]);
}

std::vector<Extension> RandomExtensions(std::mt19937& random) {
  std::vector<Extension> extensions(random() % 2 ? 0 : random() % 4);
  for (Extension& e : extensions) {
    const uint8_t types[] = {0, 43, 60, 44, 44, 59, 51};  // 59 no next header, 51 AH: not walked
    e.type = Pick(random, types);
    e.units = uint8_t(random() % 3);
    const uint16_t fragments[] = {0, 0x0001, 0x0008, 0x0009, 0x0006};
    e.fragment = Pick(random, fragments);
  }
  return extensions;
}

std::vector<uint8_t> RandomPacket(std::mt19937& random) {
  PacketFields fields;
  fields.ipv6 = random() % 2 == 0;
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
  fields.source6 = Pick(random, kAddresses6);
  fields.destination6 = Pick(random, kAddresses6);
  if (fields.ipv6) fields.extensions = RandomExtensions(random);
  fields.payload.assign(random() % 4, 'p');
  std::vector<uint8_t> packet = BuildIpPacket(fields);
  const size_t lengthAt = fields.ipv6 ? 4 : 2;
  switch (random() % 8) {
    case 0:  // cut short
      packet.resize(random() % (packet.size() + 1));
      break;
    case 1:  // padded
      packet.resize(packet.size() + random() % 8, 0);
      break;
    case 2:  // the total (or payload) length says anything at all
      if (packet.size() >= lengthAt + 2) {
        packet[lengthAt] = uint8_t(random() % 2);
        packet[lengthAt + 1] = uint8_t(random());
      }
      break;
    case 3:  // another IP version
      packet[0] = uint8_t((random() % 16) << 4 | (packet[0] & 0x0F));
      break;
    default:
      break;
  }
  return packet;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (const uint8_t b : bytes)
    text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
  return text;
}

struct Compiled {
  pcap_t* dead = nullptr;
  bpf_program program{};
  bool ok = false;
  Compiled(int linkType, const std::string& expression) {
    dead = pcap_open_dead(linkType, kCaptureSnapLength);
    ok = CompileKernelFilter(dead, expression, &program);
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
  // The longest expression, both lists full, still makes a program the kernel takes.
  CaptureFilter longest;
  longest.includeTcp = longest.includeUdp = longest.portMode = longest.addressMode = 1;
  for (int i = 0; i < kFilterListLength; ++i) {
    longest.ports[i] = NetworkPort(uint16_t(1000 + i));
    longest.addresses[i] = IpAddress::Ipv6(kAddresses6[0].bytes().data());
  }
  ASSERT_TRUE(Compiled(kLinkEthernet, KernelFilterExpression(longest)).ok);

  std::mt19937 random(20261207);
  auto record = std::make_unique<CapturedPacket>();
  int shown = 0, judged = 0, shown6 = 0;
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
        const bool accepted = kernel.accepts(frame);
        if (KernelMayLetThrough(packet)) {
          ASSERT_TRUE(accepted || !user) << expression << "\nfilter " << f << ", packet " << p;
        } else {
          ASSERT_EQ(accepted, user) << expression << "\nlink " << linkType << ", packet "
                                    << Hex(packet) << ", filter " << f << ", packet " << p;
        }
        shown += user;
        shown6 += user && record->sourceAddress.isIpv6();
        ++judged;
      }
    }
  }
  // The random mix reaches both answers often.
  EXPECT_GT(shown, judged / 50);
  EXPECT_GT(shown6, shown / 4);
  EXPECT_GT(judged - shown, judged / 2);
}
