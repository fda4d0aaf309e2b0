#include <gtest/gtest.h>
#include <netinet/in.h>
#include <resolv.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "dns/dns_format.h"
#include "dns/resolver_config.h"
#include "test_util.h"

namespace {

DnsRecord Make(uint16_t type, uint8_t section = 0, const char* name = "", const char* name2 = "") {
  DnsRecord r{};
  r.type = type;
  r.section = section;
  std::strncpy(r.name, name, sizeof r.name - 1);
  std::strncpy(r.name2, name2, sizeof r.name2 - 1);
  r.nameLength = uint16_t(std::strlen(r.name));
  r.name2Length = uint16_t(std::strlen(r.name2));
  return r;
}

DnsRecord MakeA(const uint8_t (&bytes)[4], uint8_t section = 0) {
  DnsRecord r = Make(kDnsTypeA, section);
  std::memcpy(&r.address, bytes, 4);
  return r;
}

uint32_t Address(const char* dotted) {
  uint32_t value = 0;
  unsigned b[4];
  if (std::sscanf(dotted, "%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]) == 4) {
    const uint8_t bytes[4] = {uint8_t(b[0]), uint8_t(b[1]), uint8_t(b[2]), uint8_t(b[3])};
    std::memcpy(&value, bytes, 4);
  }
  return value;
}

}  // namespace

// The texts of every type come out of the pane tests against the real server; these are the
// edges it does not reach.
TEST(FormatDnsRecord, WidensPreferencesAndCutsAt299Characters) {
  DnsRecord mx = Make(kDnsTypeMx, 0, "mail.dns.test");
  mx.preference = 65535;
  EXPECT_EQ(*FormatDnsRecord(mx), "MX:\t65535  mail.dns.test\r\n");
  const std::string longName(255, 'n');
  const std::string hinfo =
      *FormatDnsRecord(Make(kDnsTypeHinfo, 0, longName.c_str(), longName.c_str()));
  EXPECT_EQ(hinfo, ("HINFO:\t(cpu)" + longName + "\r\n\t(os)" + longName).substr(0, 299));
  EXPECT_FALSE(FormatDnsRecord(Make(16)).has_value());
}

TEST(FormatDnsSections, PrintsEveryHeadingAndOnlyFormattableRecords) {
  EXPECT_EQ(FormatDnsSections(nullptr, 0),
            "[Authorititive Answers]\r\n\r\n[Authorititive Answers Can Be Found At]\r\n\r\n"
            "[Additional Records]\r\n\r\n");
  // Records stand under their own section in reply order, whatever order the sections come.
  const DnsRecord records[] = {
      MakeA({198, 51, 100, 53}, 2),        MakeA({198, 51, 100, 10}, 0), Make(16, 0),
      Make(kDnsTypeNs, 1, "ns1.dns.test"), MakeA({198, 51, 100, 11}, 0), MakeA({9, 9, 9, 9}, 0)};
  EXPECT_EQ(FormatDnsSections(records, 5),
            "[Authorititive Answers]\r\nA:\t198.51.100.10\r\nA:\t198.51.100.11\r\n\r\n"
            "[Authorititive Answers Can Be Found At]\r\nNS:\tns1.dns.test\r\n\r\n"
            "[Additional Records]\r\nA:\t198.51.100.53\r\n\r\n");
}

TEST(FirstNameServer, ReadsTheFirstIpv4ServerAsTheResolverDoes) {
  EXPECT_EQ(FirstNameServer("nameserver 10.255.255.53\n"), Address("10.255.255.53"));
  EXPECT_EQ(FirstNameServer("# local\nsearch dns.test\nnameserver fe80::1%eth0\n"
                            "nameserver\t192.0.2.53 # primary\nnameserver 192.0.2.54\n"),
            Address("192.0.2.53"));
  EXPECT_EQ(FirstNameServer("nameserver 0.0.0.0\nnameserver 192.0.2.9\n"), 0u);
  // Not a name server line, or no readable IPv4 address on it (a ";", "#" or CR after the
  // address makes it unreadable, as for the resolver).
  for (const char* none :
       {"", "\n\n", "nameserver", "nameserver \n", "nameserver2 192.0.2.1", " nameserver 192.0.2.1",
        "#nameserver 192.0.2.1", "nameserver 192.0.2.300", "nameserver ::1", "nameserver dns.test",
        "domain nameserver 192.0.2.1", "nameserver 192.0.2.7;comment",
        "nameserver 192.0.2.8\r\n"}) {
    EXPECT_EQ(FirstNameServer(none), 0u) << none;
  }
}

TEST(ParseResolverConfig, KeepsTheIpv4ServersInOrderAndTheLastDomainOrFirstSearchName) {
  const ResolverConfig config = ParseResolverConfig(
      "search old.test\nnameserver 192.0.2.1\nnameserver ::1\nsearch a.test b.test # list\n"
      "nameserver 192.0.2.2\nnameserver 192.0.2.3\n");
  EXPECT_EQ(config.domain, "a.test");  // the last search line holds
  // The resolver uses three servers: the IPv6 one counts among them.
  EXPECT_EQ(config.nameServers,
            (std::vector<uint32_t>{Address("192.0.2.1"), Address("192.0.2.2")}));
  EXPECT_EQ(ParseResolverConfig("domain d.test\nsearch a.test\n").domain, "a.test");
  EXPECT_EQ(ParseResolverConfig("search a.test\ndomain d.test\ndomain e.test;x\n").domain,
            "e.test;x");
  EXPECT_EQ(ParseResolverConfig("domain " + std::string(300, 'x')).domain.size(), 255u);
  EXPECT_EQ(ParseResolverConfig("domainx d.test\nsearch\n").domain, "");
}

TEST(ParseResolverConfig, KeepsTheServersOfEitherFamilyWithTheirZones) {
  const ResolverConfig config = ParseResolverConfig(
      "nameserver fe80::1%eth0\nnameserver 2001:db8::x\nnameserver 127.1\n"
      "nameserver 2001:DB8::53%\x01\nnameserver ::1\n");
  std::vector<std::string> texts;
  for (const NameServer& server : config.allNameServers) texts.push_back(server.text());
  // An unreadable address is passed over; a zone that cannot be shown is dropped; a fourth
  // server is not used.
  EXPECT_EQ(texts, (std::vector<std::string>{"fe80::1%eth0", "127.0.0.1", "2001:db8::53"}));
  EXPECT_EQ(config.nameServers, std::vector<uint32_t>{Address("127.0.0.1")});
}

// What the C library's resolver reads from /etc/resolv.conf: its first search name (the domain
// when the last of the lines was "domain") and its IPv4 name servers.
ResolverConfig ReadBySystemResolver() {
  ResolverConfig config;
  if (res_init() != 0) return config;
  if (_res.dnsrch[0] != nullptr) config.domain = _res.dnsrch[0];
  for (int i = 0; i < _res.nscount && i < MAXNS; ++i) {
    if (_res.nsaddr_list[i].sin_family == AF_INET) {
      config.nameServers.push_back(_res.nsaddr_list[i].sin_addr.s_addr);
    }
  }
  return config;
}

// Each file shown in the place of /etc/resolv.conf, read by both. (Every file names a domain
// and a server: without them the resolver has defaults of its own.)
TEST(ResolverConfig, ReadsTheFileAsTheSystemResolverDoes) {
  using namespace std::string_literals;
  if (!IsRoot()) GTEST_SKIP() << "showing a file at /etc/resolv.conf needs root";
  const std::string files[] = {
      "domain odd;dom#x.example\nnameserver 198.51.100.1;x\nnameserver 198.51.100.2#y\n"
      "nameserver 198.51.100.3 # primary\n",
      "search a;b#c.example  second.example\nnameserver 198.51.100.4\n",
      "domain d.example\nsearch s1.example s2.example\nnameserver 198.51.100.5\n",
      "search s.example\ndomain \t \nsearch\nnameserver 198.51.100.6\n",
      "domain crlf.example\r\nnameserver 198.51.100.7\r\nnameserver 198.51.100.8\n",
      "domain ab\0cd.example\nnameserver 198.51.100.9\n"s,
      "  domain lead.example\n#domain hash.example\n;search semi.example\n"
      "search\tt\xe9st.example\nnameserver 2001:db8::1\nnameserver fe80::1%lo\n"
      "nameserver 198.51.100.10\nnameserver 198.51.100.11\n",
      "domain short.example\nnameserver 198.51.100\nnameserver 0x7f.1\n"
      "nameserver 198.51.100.300\nnameserver 198.51.100.12\nnameserver 198.51.100.13\n",
  };
  TempDir dir;
  const std::string path = dir.file("resolv.conf");
  for (const std::string& text : files) {
    std::ofstream(path, std::ios::binary) << text;
    FileShownAt shown(path, kResolverConfigPath);
    ASSERT_TRUE(shown.shown());
    const ResolverConfig theirs = ReadBySystemResolver();
    ASSERT_FALSE(theirs.nameServers.empty()) << text;
    const std::optional<ResolverConfig> ours = ReadResolverConfig();
    ASSERT_TRUE(ours.has_value());
    EXPECT_EQ(ours->domain, theirs.domain) << text;
    EXPECT_EQ(ours->nameServers, theirs.nameServers) << text;
  }
}

TEST(GetDefaultDnsServer, ReadsTheConfigurationFile) {
  TempDir dir;
  std::ofstream(dir.file("resolv.conf")) << "options edns0\nnameserver 203.0.113.53\n";
  EXPECT_EQ(GetDefaultDnsServer(dir.file("resolv.conf")), Address("203.0.113.53"));
  EXPECT_EQ(GetDefaultDnsServer(dir.file("missing.conf")), 0u);
  // Beyond the first 64 KiB nothing is read.
  std::ofstream(dir.file("big.conf"))
      << std::string(kResolverConfigMaxBytes, '#') << "\nnameserver 203.0.113.54\n";
  EXPECT_EQ(GetDefaultDnsServer(dir.file("big.conf")), 0u);
  EXPECT_EQ(DottedAddress(GetDefaultDnsServer(dir.file("missing.conf"))), "0.0.0.0");
}
