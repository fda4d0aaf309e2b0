// Packet decoding and the capture filter's rules, with packets made byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "capture/filter_rules.h"
#include "capture/packet_text.h"
#include "packet_builder.h"
#include "base/payload_format.h"

namespace {

struct Decoded {
  bool shown = false;
  std::unique_ptr<CapturedPacket> record = std::make_unique<CapturedPacket>();
  std::string payload() const {
    return std::string(reinterpret_cast<const char*>(record->payload), record->payloadLength);
  }
};

Decoded Decode(const std::vector<uint8_t>& bytes, int linkType = kLinkRaw) {
  Decoded d;
  d.shown = DecodeFrame(linkType, bytes.data(), bytes.size(), d.record.get());
  return d;
}

}  // namespace

TEST(PacketDecoding, HeaderLengthsDecideWherePayloadStarts) {
  PacketFields tcp;
  tcp.tcpWords = 8;  // a 32-byte TCP header and nothing after it: 52 bytes, skipped
  EXPECT_EQ(PayloadOffset(BuildIpPacket(tcp).data(), 52), 52u);
  EXPECT_FALSE(Decode(BuildIpPacket(tcp)).shown);

  tcp.tcpWords = 5;
  tcp.payload = std::string(20, 'x');  // 60 bytes
  Decoded d = Decode(BuildIpPacket(tcp));
  ASSERT_TRUE(d.shown);
  EXPECT_EQ(d.record->isTcp, 1);
  EXPECT_EQ(d.payload(), tcp.payload);
  // Addresses and ports keep network byte order: port 80 is the bytes 00 50.
  const uint8_t port80[2] = {0x00, 0x50};
  EXPECT_EQ(std::memcmp(&d.record->destinationPort, port80, 2), 0);
  EXPECT_EQ(d.record->sourceAddress, IpAddress::Ipv4(tcp.source));
  EXPECT_EQ(d.record->destinationAddress, IpAddress::Ipv4(tcp.destination));

  PacketFields udp;
  udp.protocol = 17;
  EXPECT_FALSE(Decode(BuildIpPacket(udp)).shown);  // 28 bytes
  udp.payload = "u";
  d = Decode(BuildIpPacket(udp));
  ASSERT_TRUE(d.shown);
  EXPECT_EQ(d.record->isTcp, 0);
  EXPECT_EQ(d.payload(), "u");

  // IP options: the payload starts after the real header, not at byte 40.
  tcp.ipWords = 7;
  tcp.payload = "GET / HTTP/1.1\r\n";
  EXPECT_EQ(Decode(BuildIpPacket(tcp)).payload(), tcp.payload);

  // The largest packet is taken whole.
  udp.payload = std::string(kMaxIpPacket - 28, 'L');
  d = Decode(BuildIpPacket(udp));
  ASSERT_TRUE(d.shown);
  EXPECT_EQ(d.record->payloadLength, kMaxIpPacket - 28);
}

TEST(PacketDecoding, DamagedCutAndForeignPacketsAreSkipped) {
  PacketFields fields;
  fields.payload = "data";
  const std::vector<uint8_t> good = BuildIpPacket(fields);
  ASSERT_TRUE(Decode(good).shown);

  auto changed = [&](size_t at, uint8_t value) {
    std::vector<uint8_t> p = good;
    p[at] = value;
    return p;
  };
  EXPECT_FALSE(Decode(changed(9, 1)).shown);      // ICMP
  EXPECT_FALSE(Decode(changed(0, 0x65)).shown);   // not version 4
  EXPECT_FALSE(Decode(changed(0, 0x44)).shown);   // header length below 20
  EXPECT_FALSE(Decode(changed(0, 0x4F)).shown);   // header longer than the packet
  EXPECT_FALSE(Decode(changed(32, 0x40)).shown);  // TCP data offset below 5
  EXPECT_FALSE(Decode(changed(32, 0xF0)).shown);  // TCP header past the end
  EXPECT_FALSE(Decode(changed(7, 0x08)).shown);   // a later fragment
  // Cut short: fewer bytes than the total length says.
  EXPECT_FALSE(Decode(std::vector<uint8_t>(good.begin(), good.end() - 1)).shown);
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_FALSE(Decode(std::vector<uint8_t>(good.begin(), good.begin() + long(n))).shown) << n;
  }
  // Bytes after the total length (link padding) are not payload.
  std::vector<uint8_t> padded = good;
  padded.resize(good.size() + 6, 0);
  EXPECT_EQ(Decode(padded).payload(), "data");
}

TEST(PacketDecoding, LinkHeadersAreStrippedByLinkType) {
  PacketFields fields;
  fields.payload = "x";
  const std::vector<uint8_t> packet = BuildIpPacket(fields);
  const auto behind = [&](std::vector<uint8_t> header) {
    header.insert(header.end(), packet.begin(), packet.end());
    return header;
  };
  EXPECT_TRUE(Decode(EthernetFrame(packet), kLinkEthernet).shown);
  EXPECT_TRUE(Decode(EthernetFrame(packet, 2), kLinkEthernet).shown);
  EXPECT_TRUE(Decode(packet, kLinkIpv4).shown);
  EXPECT_TRUE(Decode(behind({2, 0, 0, 0}), kLinkNull).shown);
  EXPECT_TRUE(Decode(behind({0, 0, 0, 2}), kLinkLoop).shown);
  std::vector<uint8_t> sll(16, 0);
  sll[14] = 0x08;
  EXPECT_TRUE(Decode(behind(sll), kLinkLinuxSll).shown);
  std::vector<uint8_t> sll2(20, 0);
  sll2[0] = 0x08;
  EXPECT_TRUE(Decode(behind(sll2), kLinkLinuxSll2).shown);

  std::vector<uint8_t> arp = EthernetFrame(packet);
  arp[12] = 0x08;
  arp[13] = 0x06;
  EXPECT_FALSE(Decode(arp, kLinkEthernet).shown);
  EXPECT_FALSE(Decode(behind({10, 0, 0, 0}), kLinkNull).shown);  // IPv6 family
  EXPECT_FALSE(Decode(packet, 9999).shown);                      // unknown link type
  EXPECT_EQ(IpHeaderOffset(kLinkEthernet, packet.data(), 13), -1);
}

TEST(PacketDecoding, Ipv6IsWalkedThroughItsExtensionHeaders) {
  PacketFields fields;
  fields.ipv6 = true;
  fields.payload = "over IPv6";
  Decoded d = Decode(BuildIpPacket(fields));
  ASSERT_TRUE(d.shown);
  EXPECT_EQ(d.record->sourceAddress, fields.source6);
  EXPECT_EQ(d.record->destinationAddress, fields.destination6);
  EXPECT_EQ(d.payload(), fields.payload);
  EXPECT_EQ(FormatCapturedPacket(3, *d.record, kDisplayTextOnly, true),
            "\r\nPACKET 3\r\nProtocol: TCP\r\nSource: [2001:db8::2]:1025\r\n"
            "Destination: [2001:db8::1]:80\r\nBytes: 9\r\nover IPv6\r\n");

  // Hop-by-hop, routing, destination options and a first fragment (more to come) before UDP.
  fields.protocol = 17;
  fields.extensions = {{0, 1, 0}, {43, 0, 0}, {60, 2, 0}, {44, 0, 0x0001}};
  const std::vector<uint8_t> behind = BuildIpPacket(fields);
  d = Decode(behind);
  ASSERT_TRUE(d.shown);
  EXPECT_EQ(d.record->isTcp, 0);
  EXPECT_EQ(d.payload(), fields.payload);
  EXPECT_EQ(PayloadOffset(behind.data(), behind.size()), behind.size() - fields.payload.size());
  // Cut anywhere, the packet is skipped; link padding after its end is not payload.
  for (size_t n = 0; n < behind.size(); ++n) {
    EXPECT_FALSE(Decode(std::vector<uint8_t>(behind.begin(), behind.begin() + long(n))).shown);
  }
  std::vector<uint8_t> padded = behind;
  padded.resize(behind.size() + 5, 0);
  EXPECT_EQ(Decode(padded).payload(), fields.payload);

  // At most eight extension headers are walked.
  fields.extensions.assign(kMaxIpv6ExtensionHeaders, Extension{60, 0, 0});
  EXPECT_TRUE(Decode(BuildIpPacket(fields)).shown);
  fields.extensions.push_back(Extension{60, 0, 0});
  EXPECT_FALSE(Decode(BuildIpPacket(fields)).shown);
  // A later fragment has no transport header; no next header and AH are not walked.
  for (const Extension& e : {Extension{44, 0, 0x0008}, Extension{59}, Extension{51}}) {
    fields.extensions = {e};
    EXPECT_FALSE(Decode(BuildIpPacket(fields)).shown) << int(e.type);
  }
  // The payload length decides the end: none left for the UDP header, or no payload.
  fields.extensions.clear();
  std::vector<uint8_t> packet = BuildIpPacket(fields);
  packet[5] = 7;
  EXPECT_FALSE(Decode(packet).shown);
  packet[5] = 8;
  EXPECT_FALSE(Decode(packet).shown);
  packet[5] = 10;
  EXPECT_EQ(Decode(packet).payload(), "ov");
}

TEST(PacketDecoding, LinkHeadersAnnounceTheIpVersion) {
  PacketFields fields;
  fields.ipv6 = true;
  fields.payload = "6";
  const std::vector<uint8_t> v6 = BuildIpPacket(fields);
  fields.ipv6 = false;
  const std::vector<uint8_t> v4 = BuildIpPacket(fields);
  const auto behind = [](std::vector<uint8_t> header, const std::vector<uint8_t>& packet) {
    header.insert(header.end(), packet.begin(), packet.end());
    return header;
  };
  EXPECT_TRUE(Decode(EthernetFrame(v6, 1), kLinkEthernet).shown);
  EXPECT_TRUE(Decode(v6, kLinkIpv6).shown);
  EXPECT_FALSE(Decode(v4, kLinkIpv6).shown);
  EXPECT_FALSE(Decode(v6, kLinkIpv4).shown);
  // An Ethernet type that says the other version.
  std::vector<uint8_t> wrong = EthernetFrame(v4);
  wrong[12] = 0x86;
  wrong[13] = 0xDD;
  EXPECT_FALSE(Decode(wrong, kLinkEthernet).shown);
  // AF_INET6 as Linux, the BSDs and macOS number it, in either byte order.
  for (const uint8_t family : {10, 24, 28, 30}) {
    EXPECT_TRUE(Decode(behind({family, 0, 0, 0}, v6), kLinkNull).shown) << int(family);
    EXPECT_TRUE(Decode(behind({0, 0, 0, family}, v6), kLinkLoop).shown) << int(family);
  }
  std::vector<uint8_t> sll(16, 0);
  sll[14] = 0x86;
  sll[15] = 0xDD;
  EXPECT_TRUE(Decode(behind(sll, v6), kLinkLinuxSll).shown);
  EXPECT_FALSE(Decode(behind(sll, v4), kLinkLinuxSll).shown);
}

TEST(CaptureFilterRules, ListsAndProtocolsCombineWithAnd) {
  PacketFields fields;
  fields.payload = "p";
  Decoded d = Decode(BuildIpPacket(fields));  // TCP 10.0.0.2:1025 -> 10.0.0.1:80
  ASSERT_TRUE(d.shown);
  const CapturedPacket& packet = *d.record;

  CaptureFilter filter = InitialCaptureFilter();
  EXPECT_EQ(PacketPassesFilter(filter, packet), 1);
  filter.portMode = 2;  // source ports only
  EXPECT_EQ(PacketPassesFilter(filter, packet), 0);
  filter.portMode = 3;
  EXPECT_EQ(PacketPassesFilter(filter, packet), 1);

  // Ports (src/dst) 80 with addresses (src/dst) 10.0.0.1.
  filter.portMode = 1;
  filter.addressMode = 1;
  filter.addresses[0] = IpAddress::Ipv4(0x0100000A);
  EXPECT_EQ(PacketPassesFilter(filter, packet), 1);
  filter.addresses[0] = IpAddress::Ipv4(0x0300000A);
  EXPECT_EQ(PacketPassesFilter(filter, packet), 0);
  filter.addresses[1] = IpAddress::Ipv4(0x0200000A);  // the source, second in the list
  EXPECT_EQ(PacketPassesFilter(filter, packet), 1);
  filter.addressMode = 3;  // the destination only
  EXPECT_EQ(PacketPassesFilter(filter, packet), 0);

  // A list in use but empty drops all; so does leaving out the packet's protocol.
  filter = InitialCaptureFilter();
  filter.ports[0] = 0;
  filter.ports[1] = NetworkPort(80);  // past the end of the list
  EXPECT_EQ(PacketPassesFilter(filter, packet), 0);
  filter = InitialCaptureFilter();
  filter.includeTcp = 0;
  filter.includeUdp = 1;
  EXPECT_EQ(PacketPassesFilter(filter, packet), 0);
}

TEST(CaptureFilterRules, AddressListsHoldBothFamilies) {
  PacketFields fields;
  fields.ipv6 = true;
  fields.payload = "p";
  Decoded d = Decode(BuildIpPacket(fields));  // TCP [2001:db8::2]:1025 -> [2001:db8::1]:80
  ASSERT_TRUE(d.shown);

  CaptureFilter filter = InitialCaptureFilter();
  filter.addressMode = 2;
  filter.addresses[0] = IpAddress::Ipv4(0x0200000A);  // 10.0.0.2: the same bytes, not IPv6
  filter.addresses[1] = *ParseIpv6Address("::ffff:10.0.0.2");
  EXPECT_EQ(PacketPassesFilter(filter, *d.record), 0);
  filter.addresses[2] = fields.source6;
  EXPECT_EQ(PacketPassesFilter(filter, *d.record), 1);
  filter.addresses[1] = IpAddress::Ipv6(IpAddress::Bytes{});  // :: ends the list
  EXPECT_EQ(PacketPassesFilter(filter, *d.record), 0);
  EXPECT_EQ(DescribeFilterText(filter),
            "Protocols: TCP\r\nPorts: (src/dst) 80\r\nAddresses: (src) 10.0.0.2");
  filter.addresses[1] = *ParseIpv6Address("::ffff:10.0.0.2");
  EXPECT_EQ(DescribeFilterText(filter),
            "Protocols: TCP\r\nPorts: (src/dst) 80\r\n"
            "Addresses: (src) 10.0.0.2,::ffff:10.0.0.2,2001:db8::2");
  EXPECT_EQ(FilterAddressesText(filter), "10.0.0.2,::ffff:10.0.0.2,2001:db8::2");
}

TEST(CaptureFilterRules, DescriptionAndListTexts) {
  CaptureFilter filter = InitialCaptureFilter();
  EXPECT_EQ(DescribeFilterText(filter),
            "Protocols: TCP\r\nPorts: (src/dst) 80\r\nAddresses: Allow Any Address");

  filter.includeTcp = 0;
  filter.ports[0] = 0;
  filter.addressMode = 2;
  filter.addresses[0] = IpAddress::Ipv4(0x0100000A);
  filter.addresses[1] = IpAddress::Ipv4(0xFFFFFFFF);
  EXPECT_EQ(DescribeFilterText(filter),
            "Protocols: None\r\nPorts: (src/dst)\r\nAddresses: (src) 10.0.0.1,255.255.255.255");
  EXPECT_EQ(FilterAddressesText(filter), "10.0.0.1,255.255.255.255");
  filter.includeUdp = 1;
  filter.portMode = 0;
  filter.ports[0] = NetworkPort(139);  // kept under "Allow ALL ports"
  filter.ports[1] = NetworkPort(65535);
  EXPECT_EQ(DescribeFilterText(filter).substr(0, 37), "Protocols: UDP\r\nPorts: Allow Any Port");
  EXPECT_EQ(FilterPortsText(filter), "139,65535");

  using Pieces = std::vector<std::string>;
  EXPECT_EQ(FilterListPieces("80, 443 ,,"), (Pieces{"80", "443"}));
  EXPECT_EQ(FilterListPieces("80,,443"), (Pieces{"80", "", "443"}));
  EXPECT_EQ(FilterListPieces(" ,\t\r\n"), Pieces{});
  EXPECT_EQ(FilterListPieces("1,2,3,4,5,6,7,8,9,10,11").size(), 10u);
  EXPECT_EQ(PortPieceValue("443"), 443);
  EXPECT_EQ(PortPieceValue("80abc"), 80);
  EXPECT_EQ(PortPieceValue("abc"), 0);
  EXPECT_EQ(PortPieceValue("65617"), 81);  // low 16 bits
  EXPECT_EQ(PortPieceValue("65536"), 0);
  EXPECT_EQ(PortPieceValue("99999999999999999999"), 65535);  // no overflow, still the low bits
}
