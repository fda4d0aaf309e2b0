// The NetInfo texts and the lease-file reader, apart from the system.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "netinfo/dhcp_lease.h"
#include "netinfo/netinfo_text.h"
#include "netinfo/rtnetlink_dump.h"

namespace {

uint32_t Address(const char* dotted) {
  return inet_addr(dotted);
}

// A time zone for the test's span, then the one before.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    saved_.empty() ? unsetenv("TZ") : setenv("TZ", saved_.c_str(), 1);
    tzset();
  }

 private:
  std::string saved_;
};

AdapterRecord Adapter() {
  AdapterRecord adapter;
  adapter.index = 7;
  adapter.name = "e0";
  adapter.linkType = kArphrdEther;
  adapter.mac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
  adapter.addresses = {Address("198.18.10.2"), Address("198.18.10.3")};
  adapter.firstPrefixLength = 22;
  adapter.gateway = Address("198.18.10.1");
  return adapter;
}

TEST(FormatNetworkParams, NamesThatAreNotUtf8ShowEachByteAsLatin1) {
  NetworkParams params;
  params.hostName = "h\xc3\xb6st";                  // UTF-8
  params.domain = "t\xe9st.caf\xc3\xa9.example\r";  // a Latin-1 label, a CR from CR LF lines
  EXPECT_EQ(FormatNetworkParams(params),
            "Host Name\t\t: h\xc3\xb6st\nDomain\t\t\t: t\xc3\xa9st.caf\xc3\xa9.example\\013\n"
            "Node Type\t\t: Unknown\nIP Routing Enabled\t: NO\nWins Proxy Enabled\t: NO\n");
}

TEST(FormatAdapterInfo, PrintsTheLinesInOrder) {
  const ZoneScope zone("<+0130>-1:30");  // local time, not UTC, with a half hour in it
  DhcpLease lease;
  lease.address = Address("198.18.10.2");
  lease.server = Address("198.18.10.1");
  lease.obtained = 1704513600;  // Sat Jan 06 04:00:00 2024 UTC
  lease.expires = 1704517200;
  const std::vector<std::string> three = {"198.51.100.53", "203.0.113.53", "198.51.100.54"};
  EXPECT_EQ(FormatAdapterInfo(Adapter(), lease, three),
            "Adapter Index\t: 7\r\n"
            "Description\t: e0\r\n"
            "MAC Address\t: 00-1a-2B-3C-4D-5E\r\n"
            "DHCP Enabled\t: YES\r\n"
            "Adapter Type\t: Ethernet\r\n"
            "IP Address\t: 198.18.10.2\r\n"
            "Subnet Mask\t: 255.255.252.0\r\n"
            "Default Gateway\t: 198.18.10.1\r\n"
            "DHCP Server\t: 198.18.10.1\r\n"
            "Preferred DNS\t: 198.51.100.53\r\n"
            "Alternate DNS\t: 203.0.113.53\r\n"
            "Lease Obtained\t: Sat Jan 06 05:30:00 2024\n"
            "Lease Expires\t: Sat Jan 06 06:30:00 2024\n");

  // No address, no gateway, no lease, one DNS server: empty texts, and every line still ends.
  AdapterRecord bare = Adapter();
  bare.addresses.clear();
  bare.gateway = 0;
  bare.linkType = kArphrdNone;
  const std::string bareText =
      "Adapter Index\t: 7\r\nDescription\t: e0\r\nMAC Address\t: 00-1a-2B-3C-4D-5E\r\n"
      "DHCP Enabled\t: NO\r\nAdapter Type\t: Other\r\nIP Address\t: \r\nSubnet Mask\t: \r\n"
      "Default Gateway\t: \r\nDHCP Server\t: \r\n";
  EXPECT_EQ(FormatAdapterInfo(bare, std::nullopt, std::vector<std::string>{"192.0.2.1"}),
            bareText +
                "Preferred DNS\t: 192.0.2.1\r\nAlternate DNS\t: \r\n"
                "Lease Obtained\t: \nLease Expires\t: \n");
  // Without a readable resolver configuration the DNS lines are left out.
  EXPECT_EQ(FormatAdapterInfo(bare, std::nullopt, std::nullopt),
            bareText + "Lease Obtained\t: \nLease Expires\t: \n");

  // IPv6 addresses after the lease lines, global ones before link-local ones, then the gateway.
  bare.ipv6Addresses = {{*ParseIpv6Address("fe80::21a:2bff:fe3c:4d5e"), 64},
                        {*ParseIpv6Address("2001:DB8::2"), 64},
                        {*ParseIpv6Address("2001:db8:0:1::3"), 56}};
  bare.ipv6Gateway = ParseIpv6Address("fe80::1");
  EXPECT_EQ(FormatAdapterInfo(bare, std::nullopt, std::vector<std::string>{"2001:db8::53"}),
            bareText +
                "Preferred DNS\t: 2001:db8::53\r\nAlternate DNS\t: \r\n"
                "Lease Obtained\t: \nLease Expires\t: \n"
                "IPv6 Address\t: 2001:db8::2/64\r\nIPv6 Address\t: 2001:db8:0:1::3/56\r\n"
                "IPv6 Address\t: fe80::21a:2bff:fe3c:4d5e/64\r\nIPv6 Gateway\t: fe80::1\r\n");
}

TEST(FormatStatistics, PrintsCountersWholeAndUnknownSpeedAsZero) {
  InterfaceStatistics reading;
  reading.status = OperStatusOf("up", true);
  reading.speedMbits = 100;
  reading.receivedBytes = 5'000'000'000;  // past 4 GiB
  reading.sentBytes = 18'446'744'073'709'551'615u;
  StatisticsTexts texts = FormatStatistics(reading);
  EXPECT_EQ(texts.status, "Operational");
  EXPECT_EQ(texts.speed, "100000 Kbs ");
  EXPECT_EQ(texts.received, "5000000000 Bytes ");
  EXPECT_EQ(texts.sent, "18446744073709551615 Bytes ");

  // What sysfs shows: a virtual adapter's speed is -1 (or no value at all).
  EXPECT_EQ(ParseSysfsCount("5000000000\n"), 5'000'000'000u);
  EXPECT_EQ(ParseSysfsCount("18446744073709551615\n"), 18'446'744'073'709'551'615u);
  for (const char* unknown : {"-1\n", "", "\n", "18446744073709551616\n", "12 \n", "0x10\n"}) {
    EXPECT_EQ(ParseSysfsCount(unknown), std::nullopt) << unknown;
  }
  reading.speedMbits = ParseSysfsCount("-1\n").value_or(0);
  EXPECT_EQ(FormatStatistics(reading).speed, "0 Kbs ");

  const struct {
    const char* operstate;
    bool adminUp;
    const char* name;
  } states[] = {{"up", true, "Operational"},      {"down", true, "Disconnected"},
                {"down", false, "Disabled"},      {"lowerlayerdown", true, "Disconnected"},
                {"notpresent", true, "Disabled"}, {"dormant", true, "WAN Connecting"},
                {"unknown", true, "Unknown"},     {"testing", true, "Unknown"}};
  for (const auto& s : states) {
    EXPECT_STREQ(OperStatusName(OperStatusOf(s.operstate, s.adminUp)), s.name) << s.operstate;
  }
}

// dhclient's lease file as it grows: older leases first, other interfaces and IPv6 between.
constexpr const char* kDhclientFile = R"(default-duid "\000\001\000\001-}\"x;";
lease {
  interface "e0";
  fixed-address 198.18.10.2;
  option dhcp-lease-time 3600;
  option dhcp-server-identifier 198.18.10.250;
  expire 4 2024/01/18 04:00:00;
}
lease6 {
  interface "e0";
  ia-na 1a:2b:3c:4d { iaaddr 2001:db8::2 { max-life 7200; } }
}
# a lease of another interface
lease {
  interface "e1";
  fixed-address 198.18.10.2;
  expire 5 2024/01/19 00:00:00;
}
lease {
  interface "e0";
  fixed-address 198.18.10.2;
  server-name "odd; name } with \"quotes\"";
  option domain-name "lab.example";
  option dhcp-lease-time 3600;
  option dhcp-server-identifier 198.18.10.1;
  renew 4 2024/01/18 04:30:00;
  expire 4 2024/01/18 05:00:00;
}
)";

TEST(LeaseChoice, TakesTheNewestLeaseOfTheAdapterForTheAddressItHolds) {
  LeaseChoice choice("e0", 7, {Address("198.18.10.2")});
  choice.considerFile("dhclient.leases", kDhclientFile, 0);
  ASSERT_TRUE(choice.best());
  EXPECT_EQ(choice.best()->server, Address("198.18.10.1"));
  EXPECT_EQ(choice.best()->expires, 1705554000);   // 2024-01-18 05:00:00 UTC
  EXPECT_EQ(choice.best()->obtained, 1705550400);  // an hour before

  // A lease of an address the adapter no longer holds is left from an earlier configuration.
  LeaseChoice moved("e0", 7, {Address("198.18.10.3")});
  moved.considerFile("dhclient.leases", kDhclientFile, 0);
  EXPECT_FALSE(moved.best());

  // KEY=VALUE files carry no times: obtained when written; named by index or interface.
  constexpr const char* kKeyValue =
      "# This is private data. Do not parse.\nADDRESS=198.18.10.2\nNETMASK=255.255.255.0\n"
      "SERVER_ADDRESS=198.18.10.9\nLIFETIME=600\n";
  LeaseChoice networkd("e0", 7, {Address("198.18.10.2")});
  networkd.considerFile("8", kKeyValue, 1705560000);  // another interface's file
  EXPECT_FALSE(networkd.best());
  networkd.considerFile("7", kKeyValue, 1705560000);
  ASSERT_TRUE(networkd.best());
  EXPECT_EQ(networkd.best()->server, Address("198.18.10.9"));
  EXPECT_EQ(networkd.best()->obtained, 1705560000);
  EXPECT_EQ(networkd.best()->expires, 1705560600);
  // Newer than every dhclient lease, so it stays the choice.
  networkd.considerFile("dhclient.e0.leases", kDhclientFile, 0);
  EXPECT_EQ(networkd.best()->server, Address("198.18.10.9"));

  LeaseChoice manager("e0", 7, {Address("198.18.10.2")});
  manager.considerFile("internal-0b1c7e2a-5d3e-4f00-9c1d-2a3b4c5d6e7f-e0.lease",
                       "ADDRESS=198.18.10.2\n", 1705560000);
  ASSERT_TRUE(manager.best());
  EXPECT_EQ(manager.best()->server, 0u);
  EXPECT_FALSE(manager.best()->expires);
}

TEST(ForEachDhclientLease, ReadsTimesAndPassesOverBrokenStatements) {
  std::vector<DhcpLease> leases;
  const auto collect = [&](const DhcpLease& l) { leases.push_back(l); };
  EXPECT_EQ(ForEachDhclientLease("lease { interface \"a\"; fixed-address 198.18.0.1;\n"
                                 "  option dhcp-lease-time 60;\n"
                                 "  expire epoch 1705554000; # Thu Jan 18 05:00:00 2024\n}\n"
                                 "lease { fixed-address 198.18.0.300; expire never;\n"
                                 "  expire 4 2024/02/30 05:00:00; interface \"b\" }"
                                 "lease { interface \"c\"; expire 4 2024/01/18",
                                 collect),
            2u);  // the last block never ends
  ASSERT_EQ(leases.size(), 2u);
  EXPECT_EQ(leases[0].interfaceName, "a");
  EXPECT_EQ(leases[0].address, Address("198.18.0.1"));
  EXPECT_EQ(leases[0].expires, 1705554000);
  EXPECT_EQ(leases[0].obtained, 1705553940);
  EXPECT_EQ(leases[1].address, 0u);        // not an address
  EXPECT_FALSE(leases[1].expires);         // no such day
  EXPECT_EQ(leases[1].interfaceName, "");  // its statement never ended
}

// Reply datagrams recorded from a namespace with e0 (index 2: 198.18.10.2/24 and .3/24, MAC
// 00:1a:2b:3c:4d:5e) and e2 (index 3: 198.18.11.2/24), a default route over both (multipath,
// via 198.18.10.1 and 198.18.11.1) and neighbours 198.18.10.7 on e0 and 198.18.11.8 on e2.
// The IPv6 ones (addr6, route6) from another, whose index 3 had 2001:2:0:10::2/64 and
// 2001:2:0:11::2/56 beside its link-local address and an IPv6 default route over both prefixes
// (multipath, via 2001:2:0:10::1 and 2001:2:0:11::1), and whose index 2 had a link-local address.
std::vector<uint8_t> Recorded(const std::string& name) {
  const char* source = std::getenv("PELORIN_SOURCE_DIR");
  std::ifstream file(std::string(source ? source : ".") + "/fuzz/corpus/rtnetlink_dump/" + name,
                     std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(AdapterDump, ReadsRecordedKernelReplies) {
  AdapterDump dump;
  for (const char* name : {"link-0", "link-1", "addr-0", "route-0"}) {
    const std::vector<uint8_t> bytes = Recorded(name);
    ASSERT_FALSE(bytes.empty()) << name;
    EXPECT_EQ(dump.add(bytes.data(), bytes.size()), DumpState::kMore) << name;
  }
  const std::vector<uint8_t> done = Recorded("route-1");
  EXPECT_EQ(dump.add(done.data(), done.size()), DumpState::kDone);

  const std::vector<AdapterRecord> adapters = dump.adapters();
  ASSERT_EQ(adapters.size(), 2u);  // not loopback
  EXPECT_EQ(adapters[0].index, 2);
  EXPECT_EQ(adapters[0].name, "e0");
  EXPECT_EQ(adapters[0].linkType, kArphrdEther);
  EXPECT_EQ(adapters[0].mac, (std::array<uint8_t, 6>{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}));
  EXPECT_EQ(adapters[0].addresses,
            (std::vector<uint32_t>{Address("198.18.10.2"), Address("198.18.10.3")}));
  EXPECT_EQ(adapters[0].firstPrefixLength, 24);
  EXPECT_EQ(adapters[0].gateway, Address("198.18.10.1"));
  EXPECT_EQ(adapters[1].name, "e2");
  EXPECT_EQ(adapters[1].gateway, Address("198.18.11.1"));  // the second hop's

  // 198.18.10.7 is PERMANENT, 198.18.11.8 STALE: only the learned entry is cache to flush.
  std::vector<uint32_t> neighbours;
  const std::vector<uint8_t> neigh = Recorded("neigh-0");
  EXPECT_EQ(AddNeighbours(neigh.data(), neigh.size(), 2, neighbours), DumpState::kDone);
  EXPECT_EQ(neighbours, std::vector<uint32_t>{});
  EXPECT_EQ(AddNeighbours(neigh.data(), neigh.size(), 3, neighbours), DumpState::kDone);
  EXPECT_EQ(neighbours, std::vector<uint32_t>{Address("198.18.11.8")});
  const std::vector<uint8_t> ack = Recorded("ack-0");
  EXPECT_EQ(AckError(ack.data(), ack.size()), -ENOENT);
  // A datagram cut short is no dump's end.
  EXPECT_EQ(dump.add(neigh.data(), 10), DumpState::kMore);
}

TEST(AdapterDump, ReadsRecordedIpv6AddressesAndMultipathGateways) {
  AdapterDump dump;
  for (const char* name : {"link-0", "link-1", "addr6-0", "route6-0"}) {
    const std::vector<uint8_t> bytes = Recorded(name);
    ASSERT_FALSE(bytes.empty()) << name;
    dump.add(bytes.data(), bytes.size());
  }
  const std::vector<AdapterRecord> adapters = dump.adapters();
  ASSERT_EQ(adapters.size(), 2u);
  ASSERT_EQ(adapters[1].index, 3);
  std::vector<std::string> texts;
  for (const AdapterIpv6Address& a : adapters[1].ipv6Addresses) {
    texts.push_back(a.address.text() + "/" + std::to_string(a.prefixLength));
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"2001:2:0:11::2/56", "2001:2:0:10::2/64",
                                             "fe80::21a:2bff:fe3c:4d5e/64"}));
  ASSERT_TRUE(adapters[1].ipv6Gateway.has_value());
  EXPECT_EQ(adapters[1].ipv6Gateway->text(), "2001:2:0:10::1");  // the first hop's
  EXPECT_EQ(adapters[0].ipv6Addresses.size(), 1u);
  EXPECT_FALSE(adapters[0].ipv6Gateway.has_value());
}

}  // namespace
