// The endpoint table's rules, the netlink and /proc parsers and the commands' texts, without
// the system.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include "netstat/endpoint_table.h"
#include "netstat/netstat_actions.h"
#include "netstat/proc_text.h"
#include "netstat/sock_diag_message.h"
#include "wire/netstat_records.h"

namespace {

uint32_t Ip(const char* dotted) {
  return inet_addr(dotted);
}

EndpointRecord Tcp(const char* local, uint16_t lport, const char* remote, uint16_t rport,
                   uint32_t state, const char* name = "a", uint32_t pid = 1) {
  EndpointRecord r{};
  r.protocol = kEndpointTcp;
  r.localAddress = Ip(local);
  r.localPort = htons(lport);
  r.remoteAddress = Ip(remote);
  r.remotePort = htons(rport);
  r.state = state;
  r.processId = pid;
  SetProcessName(r, name);
  return r;
}

EndpointRecord Udp(const char* local, uint16_t lport, const char* name = "a", uint32_t pid = 1) {
  EndpointRecord r{};
  r.protocol = kEndpointUdp;
  r.localAddress = Ip(local);
  r.localPort = htons(lport);
  r.processId = pid;
  SetProcessName(r, name);
  return r;
}

RowCells Cells(const EndpointRecord& r) {
  return CellsOf(r);
}

// An IPv6 record: an IPv6 socket, also one with IPv4-mapped addresses.
EndpointRecord Tcp6(const char* local, uint16_t lport, const char* remote, uint16_t rport,
                    uint32_t state) {
  EndpointRecord r = Tcp("0.0.0.0", lport, "0.0.0.0", rport, state);
  r.ipv6 = true;
  inet_pton(AF_INET6, local, r.localAddress6);
  inet_pton(AF_INET6, remote, r.remoteAddress6);
  return r;
}

TEST(EndpointTable, LinuxStatesMapOneByOne) {
  // Kernel number -> table name; 0 and 13 are no TCP state.
  const std::pair<uint8_t, const char*> table[] = {
      {1, "ESTABLISHED"}, {2, "SYN_SENT"},  {3, "SYN_RCVD"},   {4, "FIN_WAIT1"}, {5, "FIN_WAIT2"},
      {6, "TIME_WAIT"},   {7, "CLOSED"},    {8, "CLOSE_WAIT"}, {9, "LAST_ACK"},  {10, "LISTENING"},
      {11, "CLOSING"},    {12, "SYN_RCVD"}, {0, "UNKNOWN"},    {13, "UNKNOWN"},  {255, "UNKNOWN"}};
  for (const auto& [linux, name] : table) {
    EXPECT_STREQ(TcpStateName(TcpStateFromLinux(linux)), name) << int(linux);
  }
  EXPECT_EQ(TcpStateFromLinux(10), 2u);
  EXPECT_EQ(TcpStateFromLinux(1), 5u);
  EXPECT_EQ(TcpStateFromLinux(6), 11u);
  EXPECT_STREQ(TcpStateName(12), "DELETE_TCB");
}

TEST(EndpointTable, RowCells) {
  const EndpointRecord listening = Tcp("0.0.0.0", 80, "0.0.0.0", 4321, kTcpListening, "nginx", 77);
  EXPECT_EQ(Cells(listening),
            (RowCells{"nginx:77", "TCP", "0.0.0.0:80", "0.0.0.0:0", "LISTENING"}));
  const EndpointRecord open = Tcp("10.0.0.1", 50000, "0.0.0.0", 4321, kTcpEstablished);
  EXPECT_EQ(EndpointCellText(open, kColumnRemote), "0.0.0.0:4321");
  EXPECT_EQ(EndpointCellText(Tcp("1.2.3.4", 1, "5.6.7.8", 443, 0), kColumnState), "UNKNOWN");
  const EndpointRecord udp = Udp("127.0.0.1", 53, "System", 0);
  EXPECT_EQ(Cells(udp), (RowCells{"System:0", "UDP", "127.0.0.1:53", "*.*", ""}));
  EXPECT_EQ(udp.remoteAddress | udp.remotePort | udp.state, 0u);
  EXPECT_EQ(FormatRowLine(Cells(udp)), "System:0\tUDP\t127.0.0.1:53\t*.*\t\r\n");
  EXPECT_EQ(EndpointCellText(udp, 5), "");
}

TEST(EndpointTable, Ipv6RowsAsSsShowsThem) {
  EXPECT_EQ(Cells(Tcp6("::", 8080, "::", 4321, kTcpListening)),
            (RowCells{"a:1", "TCP", "[::]:8080", "[::]:0", "LISTENING"}));
  EXPECT_EQ(
      Cells(Tcp6("::ffff:192.0.2.7", 8080, "2001:db8::5", 443, kTcpEstablished)),
      (RowCells{"a:1", "TCP", "[::ffff:192.0.2.7]:8080", "[2001:db8::5]:443", "ESTABLISHED"}));
  EXPECT_EQ(EndpointCellText(Tcp6("::1", 1, "::", 9, kTcpEstablished), kColumnRemote), "[::]:9");
  EndpointRecord udp = Tcp6("fe80::1", 53, "::", 0, 0);
  udp.protocol = kEndpointUdp;
  EXPECT_EQ(FormatRowLine(Cells(udp)), "a:1\tUDP\t[fe80::1]:53\t*.*\t\r\n");
  EXPECT_EQ(LocalAddressOf(udp).text(), "fe80::1");

  // IPv4 first, each family by its numeric value; a mapped address is IPv6.
  EndpointSnapshot snapshot;
  snapshot.records = {Tcp6("2001:db8::10", 1, "::", 0, kTcpListening),
                      Tcp("10.0.0.1", 1, "0.0.0.0", 0, kTcpListening),
                      Tcp6("::ffff:9.0.0.1", 1, "::", 0, kTcpListening),
                      Tcp6("2001:db8::9", 1, "::", 0, kTcpListening),
                      Tcp("9.0.0.1", 1, "0.0.0.0", 0, kTcpListening)};
  EXPECT_EQ(EndpointRows(snapshot, EndpointFilter::ShowAll, kColumnLocal, true),
            (std::vector<uint32_t>{4, 1, 2, 3, 0}));
  // 0.0.0.0 before ::; equal ones keep their order (reverse snapshot order).
  EXPECT_EQ(EndpointRows(snapshot, EndpointFilter::ShowAll, kColumnRemote, true),
            (std::vector<uint32_t>{4, 1, 3, 2, 0}));
  std::vector<DiagSocket> table(2);
  table[0].ipv6 = true;
  table[1].localAddress = Ip("255.255.255.255");
  SortTableOrder(table);
  EXPECT_FALSE(table[0].ipv6);
}

TEST(EndpointTable, ProcessNamesAreCutAndCannotBreakLines) {
  EndpointRecord r{};
  SetProcessName(r, std::string(200, 'x'));
  EXPECT_EQ(std::string(r.processName), std::string(127, 'x'));
  // A two-byte character across the cut goes whole.
  SetProcessName(r, std::string(126, 'x') + "\xC3\xA9" + "yy");
  EXPECT_EQ(std::string(r.processName), std::string(126, 'x'));
  SetProcessName(r, "evil\tname\r\nSystem:0");
  EXPECT_EQ(std::string(r.processName), "evil?name??System:0");
  EXPECT_EQ(FileNameOfPath("/usr/bin/socat"), "socat");
  EXPECT_EQ(FileNameOfPath("socat"), "socat");
  EXPECT_EQ(FileNameOfPath("/usr/bin/"), "");
}

TEST(EndpointTable, CompareAndSort) {
  const EndpointRecord low = Tcp("9.0.0.1", 9000, "0.0.0.0", 0, kTcpListening, "beta");
  const EndpointRecord high = Tcp("10.0.0.1", 1, "0.0.0.0", 0, kTcpListening, "Alpha");
  EXPECT_LT(CompareEndpoints(low, high, kColumnLocal, true), 0);  // numeric, ports ignored
  EXPECT_GT(CompareEndpoints(low, high, kColumnLocal, false), 0);
  EXPECT_GT(CompareEndpoints(low, high, kColumnProcess, true), 0);  // "alpha" < "beta"
  EXPECT_EQ(CompareEndpoints(Tcp("1.1.1.1", 1, "0.0.0.0", 0, 2, "ABC"),
                             Tcp("1.1.1.1", 2, "0.0.0.0", 0, 5, "abc"), kColumnProcess, true),
            0);
  EXPECT_LT(CompareEndpoints(Udp("1.1.1.1", 1), low, kColumnState, true), 0);  // UDP state 0
  EXPECT_EQ(CompareEndpoints(low, high, 7, true), 0);

  EndpointSnapshot snapshot;
  snapshot.records = {Tcp("1.0.0.1", 1, "2.0.0.1", 1, kTcpEstablished, "b"),
                      Tcp("1.0.0.2", 1, "0.0.0.0", 0, kTcpListening, "a"),
                      Tcp("1.0.0.3", 1, "2.0.0.3", 1, kTcpEstablished, "b"),
                      Udp("1.0.0.4", 1, "c")};
  // Added at the top one by one, then sorted Z to A: equal names keep reverse table order.
  EXPECT_EQ(EndpointRows(snapshot, EndpointFilter::ShowAll, kColumnProcess, false),
            (std::vector<uint32_t>{3, 2, 0, 1}));
  EXPECT_EQ(EndpointRows(snapshot, EndpointFilter::ShowConnected, kColumnProto, true),
            (std::vector<uint32_t>{2, 0}));
  EXPECT_EQ(EndpointRows(snapshot, EndpointFilter::TcpOnly, kColumnState, true),
            (std::vector<uint32_t>{1, 2, 0}));
  EXPECT_EQ(EndpointRows(snapshot, EndpointFilter::UdpOnly, kColumnProcess, true),
            (std::vector<uint32_t>{3}));
  std::vector<uint32_t> rows = {0, 1, 2, 3};
  SortEndpointRows(rows, snapshot, kColumnProto, false);
  EXPECT_EQ(rows, (std::vector<uint32_t>{3, 0, 1, 2}));
}

TEST(EndpointTable, SnapshotOrderAndOwners) {
  const auto sock = [](const char* local, uint16_t port, uint32_t inode) {
    DiagSocket s;
    s.linuxState = 10;
    s.localAddress = Ip(local);
    s.localPort = htons(port);
    s.inode = inode;
    return s;
  };
  std::vector<DiagSocket> tcp = {sock("10.0.0.1", 80, 11), sock("9.0.0.1", 443, 12),
                                 sock("9.0.0.1", 22, 13), sock("9.0.0.1", 23, 0)};
  std::vector<DiagSocket> udp = {sock("127.0.0.1", 53, 14)};
  SortTableOrder(tcp);
  EndpointOwners owners;
  owners.processOfInode = {{12, 500}, {13, 600}, {11, 0}};
  owners.nameOfProcess = {{500, "sshd"}};
  const EndpointSnapshot s = AssembleSnapshot(tcp, udp, owners);
  ASSERT_EQ(s.records.size(), 5u);
  std::vector<std::string> shown;
  for (const EndpointRecord& r : s.records) {
    shown.push_back(EndpointCellText(r, kColumnProcess) + " " + EndpointCellText(r, kColumnLocal));
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"System:600 9.0.0.1:22", "System:0 9.0.0.1:23",
                                             "sshd:500 9.0.0.1:443", "System:0 10.0.0.1:80",
                                             "System:0 127.0.0.1:53"}));
  EXPECT_EQ(s.records[4].state, 0u);
}

// A netlink message: header, then payload, padded to 4 bytes.
void AppendMessage(std::vector<uint8_t>& out, uint16_t type, uint32_t seq,
                   const std::vector<uint8_t>& payload, uint32_t lengthOverride = 0) {
  const uint32_t length = lengthOverride ? lengthOverride : uint32_t(16 + payload.size());
  const uint16_t flags = 2;
  const uint32_t pid = 0;
  const size_t at = out.size();
  out.resize(at + 16);
  std::memcpy(&out[at], &length, 4);
  std::memcpy(&out[at + 4], &type, 2);
  std::memcpy(&out[at + 6], &flags, 2);
  std::memcpy(&out[at + 8], &seq, 4);
  std::memcpy(&out[at + 12], &pid, 4);
  out.insert(out.end(), payload.begin(), payload.end());
  while (out.size() % 4) out.push_back(0);
}

std::vector<uint8_t> DiagPayload(uint8_t family, uint8_t state, const char* src, uint16_t sport,
                                 const char* dst, uint16_t dport, uint32_t inode) {
  std::vector<uint8_t> p(72 + 8, 0);  // a trailing attribute the parser passes over
  p[0] = family;
  p[1] = state;
  const uint16_t sp = htons(sport), dp = htons(dport);
  const uint32_t s = Ip(src), d = Ip(dst);
  std::memcpy(&p[4], &sp, 2);
  std::memcpy(&p[6], &dp, 2);
  std::memcpy(&p[8], &s, 4);
  std::memcpy(&p[24], &d, 4);
  std::memcpy(&p[68], &inode, 4);
  return p;
}

std::vector<uint8_t> Int32(int32_t v) {
  std::vector<uint8_t> p(4);
  std::memcpy(p.data(), &v, 4);
  return p;
}

TEST(SockDiagMessage, DumpDatagrams) {
  std::vector<uint8_t> d;
  AppendMessage(d, kSockDiagByFamily, 7, DiagPayload(2, 1, "127.0.0.1", 5000, "127.0.0.2", 80, 99));
  AppendMessage(d, kSockDiagByFamily, 7, DiagPayload(10, 1, "0.0.0.0", 1, "0.0.0.0", 1, 1));
  AppendMessage(d, kSockDiagByFamily, 8, DiagPayload(2, 1, "0.0.0.0", 1, "0.0.0.0", 1, 2));
  std::vector<DiagSocket> out;
  ASSERT_EQ(ParseDiagDatagram(d.data(), d.size(), 7, out), DiagDumpStatus::More);
  ASSERT_EQ(out.size(), 1u);  // IPv6 and another request's answer are passed over
  EXPECT_EQ(out[0].linuxState, 1);
  EXPECT_EQ(out[0].localAddress, Ip("127.0.0.1"));
  EXPECT_EQ(ntohs(out[0].localPort), 5000);
  EXPECT_EQ(out[0].remoteAddress, Ip("127.0.0.2"));
  EXPECT_EQ(ntohs(out[0].remotePort), 80);
  EXPECT_EQ(out[0].inode, 99u);

  std::vector<uint8_t> done;
  AppendMessage(done, kNetlinkDone, 7, Int32(0));
  EXPECT_EQ(ParseDiagDatagram(done.data(), done.size(), 7, out), DiagDumpStatus::Done);
  std::vector<uint8_t> error;
  AppendMessage(error, kNetlinkError, 7, Int32(-13));
  int code = 0;
  EXPECT_EQ(ParseDiagDatagram(error.data(), error.size(), 7, out, &code), DiagDumpStatus::Failed);
  EXPECT_EQ(code, 13);
  EXPECT_EQ(ParseNetlinkAck(error.data(), error.size(), 7), 13);
  std::vector<uint8_t> ack;
  AppendMessage(ack, kNetlinkError, 3, Int32(0));
  EXPECT_EQ(ParseNetlinkAck(ack.data(), ack.size(), 3), 0);
  EXPECT_EQ(ParseNetlinkAck(ack.data(), ack.size(), 4), -1);
  // A code no errno can have (the most negative one cannot even be turned positive) is no
  // answer of the kernel's.
  for (const int32_t odd : {int32_t(-2147483647 - 1), int32_t(-4096)}) {
    std::vector<uint8_t> bad;
    AppendMessage(bad, kNetlinkError, 7, Int32(odd));
    code = 77;
    EXPECT_EQ(ParseDiagDatagram(bad.data(), bad.size(), 7, out, &code), DiagDumpStatus::Failed);
    EXPECT_EQ(code, 0) << odd;
    EXPECT_EQ(ParseNetlinkAck(bad.data(), bad.size(), 7), -1) << odd;
  }

  // Lengths that lie, and a socket message too short to hold its fields.
  for (const uint32_t lie : {15u, 4096u}) {
    std::vector<uint8_t> bad;
    AppendMessage(bad, kSockDiagByFamily, 7, DiagPayload(2, 1, "1.1.1.1", 1, "1.1.1.1", 1, 1), lie);
    EXPECT_EQ(ParseDiagDatagram(bad.data(), bad.size(), 7, out), DiagDumpStatus::Failed) << lie;
  }
  std::vector<uint8_t> shortBody;
  AppendMessage(shortBody, kSockDiagByFamily, 7, std::vector<uint8_t>(40, 0));
  EXPECT_EQ(ParseDiagDatagram(shortBody.data(), shortBody.size(), 7, out), DiagDumpStatus::Failed);
  EXPECT_EQ(ParseDiagDatagram(d.data(), 10, 7, out), DiagDumpStatus::Failed);
  EXPECT_EQ(ParseDiagDatagram(nullptr, 100, 7, out), DiagDumpStatus::Failed);
  EXPECT_EQ(out.size(), 1u);
}

TEST(SockDiagMessage, Ipv6DumpDatagrams) {
  std::vector<uint8_t> p = DiagPayload(10, 10, "0.0.0.0", 443, "0.0.0.0", 0, 5);
  inet_pton(AF_INET6, "2001:db8::5", &p[8]);
  inet_pton(AF_INET6, "::ffff:192.0.2.7", &p[24]);
  const uint32_t interfaceIndex = 7;
  std::memcpy(&p[40], &interfaceIndex, 4);
  std::vector<uint8_t> d;
  AppendMessage(d, kSockDiagByFamily, 7, p);
  AppendMessage(d, kSockDiagByFamily, 7, DiagPayload(2, 1, "127.0.0.1", 1, "127.0.0.1", 2, 6));
  std::vector<DiagSocket> out;
  ASSERT_EQ(ParseDiagDatagram(d.data(), d.size(), 7, out, nullptr, kFamilyInet6),
            DiagDumpStatus::More);
  ASSERT_EQ(out.size(), 1u);  // the IPv4 socket is no answer to an IPv6 dump
  EXPECT_TRUE(out[0].ipv6);
  EXPECT_EQ(LocalAddressOf(out[0]).text(), "2001:db8::5");
  EXPECT_EQ(RemoteAddressOf(out[0]).text(), "::ffff:192.0.2.7");
  EXPECT_EQ(out[0].localAddress, 0u);
  EXPECT_EQ(ntohs(out[0].localPort), 443);
  EXPECT_EQ(out[0].interfaceIndex, 7u);
  EXPECT_EQ(out[0].inode, 5u);
}

TEST(ProcText, Parsers) {
  EXPECT_EQ(SocketInodeOfLink("socket:[12345]"), 12345u);
  EXPECT_EQ(SocketInodeOfLink("socket:[4294967295]"), 4294967295u);
  for (const char* other : {"socket:[4294967296]", "socket:[]", "socket:[12a]", "pipe:[5]",
                            "/dev/null", "socket:[1", "socket:[-1]"}) {
    EXPECT_FALSE(SocketInodeOfLink(other)) << other;
  }
  EXPECT_EQ(ProcessIdOfName("4321"), 4321u);
  for (const char* other : {"0", "self", "2147483648", "", "12 "}) {
    EXPECT_FALSE(ProcessIdOfName(other)) << other;
  }

  EXPECT_EQ(ResidentBytesOfStatus("Name:\tx\nVmPeak:\t 9 kB\nVmRSS:\t   1234 kB\nThreads:\t1\n"),
            1234u * 1024);
  EXPECT_EQ(ResidentBytesOfStatus("Name:\tkthreadd\nThreads:\t1\n"), 0u);
  EXPECT_EQ(ResidentBytesOfStatus("VmRSS:\t99999999999999999999 kB\n"), 0u);
  EXPECT_EQ(ResidentBytesOfStatus("VmRSS:\t12 MB\n"), 0u);

  EXPECT_EQ(CommandLineText(std::string("socat\0-u\0a b\0", 13)), "socat -u a b");
  EXPECT_EQ(CommandLineText(std::string("x\nfake\0", 7)), "x?fake");
  EXPECT_EQ(CommandLineText(""), "");

  char buffer[8];  // a cut never splits a character
  EXPECT_EQ(CopyBounded("123456\xC3\xA9", buffer, sizeof buffer), 9);
  EXPECT_STREQ(buffer, "123456");
  EXPECT_EQ(GroupThousands(999) + " " + GroupThousands(1000000), "999 1,000,000");
}

TEST(NetstatActions, CaptureFilterTakesTheEndpointsOwnSide) {
  CaptureFilter f = CaptureFilterForEndpoint(Udp("0.0.0.0", 53));
  EXPECT_EQ(f.includeTcp, 0);
  EXPECT_EQ(f.includeUdp, 1);
  EXPECT_EQ(f.portMode, 1);
  EXPECT_EQ(f.ports[0], htons(53));
  EXPECT_EQ(f.ports[1], 0);
  EXPECT_EQ(f.addressMode, 0);  // listening on every address: any address
  EXPECT_EQ(f.addresses[0], IpAddress());

  f = CaptureFilterForEndpoint(Tcp("10.0.0.5", 8080, "0.0.0.0", 0, kTcpListening));
  EXPECT_EQ(f.includeTcp, 1);
  EXPECT_EQ(f.includeUdp, 0);
  EXPECT_EQ(f.ports[0], htons(8080));
  EXPECT_EQ(f.addressMode, 1);
  EXPECT_EQ(f.addresses[0], IpAddress::Ipv4(Ip("10.0.0.5")));

  f = CaptureFilterForEndpoint(Tcp("10.0.0.5", 40000, "0.0.0.0", 0, kTcpTimeWait));
  EXPECT_EQ(f.ports[0], 0);  // not listening: the remote side, even when it is empty
  EXPECT_EQ(f.addressMode, 1);
  EXPECT_EQ(f.addresses[0], IpAddress());
  f = CaptureFilterForEndpoint(Tcp("10.0.0.5", 40000, "192.0.2.9", 443, kTcpEstablished));
  EXPECT_EQ(f.ports[0], htons(443));
  EXPECT_EQ(f.addresses[0], IpAddress::Ipv4(Ip("192.0.2.9")));
}

TEST(NetstatActions, CaptureFilterOfAnIpv6Endpoint) {
  CaptureFilter f =
      CaptureFilterForEndpoint(Tcp6("::1", 40000, "2001:db8::5", 443, kTcpEstablished));
  EXPECT_EQ(f.ports[0], htons(443));
  EXPECT_EQ(f.addressMode, 1);
  EXPECT_EQ(f.addresses[0].text(), "2001:db8::5");
  f = CaptureFilterForEndpoint(Tcp6("::", 8080, "::", 0, kTcpListening));  // dual-stack too
  EXPECT_EQ(f.addressMode, 0);
  // An IPv4 client of an IPv6 server: the wire carries its IPv4 address.
  f = CaptureFilterForEndpoint(
      Tcp6("::ffff:10.0.0.5", 8080, "::ffff:192.0.2.7", 50000, kTcpEstablished));
  EXPECT_EQ(f.addresses[0], IpAddress::Ipv4(Ip("192.0.2.7")));
}

// Lookups with fixed answers: one name, one service, one process whose texts are given.
struct FakeLookups {
  std::string path = "/usr/bin/socat";
  std::string commandLine = "socat -u STDIN UDP:127.0.0.1:53";
  std::string loopbackName = "localhost";
  PropertyLookups lookups() const {
    PropertyLookups l;
    l.hostName = [this](const std::string& a) -> std::optional<std::string> {
      if (a == "127.0.0.1") return loopbackName;
      return std::nullopt;
    };
    l.serviceName = [](uint16_t port, bool udp) -> std::optional<std::string> {
      if (port == 53) return udp ? "domain" : "domain-tcp";
      return std::nullopt;
    };
    l.readProcessText = [this](uint32_t pid, bool image, char* buffer, size_t capacity) {
      if (pid != 42) return -1;
      return CopyBounded(image ? path : commandLine, buffer, capacity);
    };
    l.workingSet = [](uint32_t pid) -> uint64_t { return pid == 42 ? 12345678 : 0; };
    return l;
  }
};

TEST(NetstatActions, ConnectionPropertiesText) {
  const FakeLookups fake;
  EXPECT_EQ(BuildConnectionProperties(Cells(Udp("127.0.0.1", 53, "socat", 42)), fake.lookups()),
            "CONNECTION:\r\n\tProtocol :\tUDP\r\n\r\n"
            "\tLocal Address :\t127.0.0.1:53\r\n"
            "\tHostname :\tlocalhost\r\n"
            "\tService :\t\tdomain\r\n"
            "\r\nPROCESS :\r\n"
            "\tExe:ProcessID :\tsocat:42\r\n"
            "\tPath Name :\t/usr/bin/socat\r\n"
            "\tCommand Line :\tsocat -u STDIN UDP:127.0.0.1:53\r\n"
            "\tMemory Usage :\t12,345 Kb\r\n");
  EXPECT_EQ(BuildConnectionProperties(
                Cells(Tcp("10.1.1.1", 4000, "127.0.0.1", 53, kTcpEstablished, "System", 0)),
                fake.lookups()),
            "CONNECTION:\r\n\tProtocol :\tTCP\r\n\r\n"
            "\tLocal Address :\t10.1.1.1:4000\r\n"
            "\tHostname :\tunknown\r\n"
            "\tService :\t\tunknown\r\n"
            "\r\n\tRemote Address :\t127.0.0.1:53\r\n"
            "\tHostname :\tlocalhost\r\n"
            "\tService :\t\tdomain-tcp\r\n"
            "\r\n\tStatus :\t\tESTABLISHED\r\n"
            "\r\nPROCESS :\r\n"
            "\tExe:ProcessID :\tSystem:0\r\n"
            "\tPath Name :\tAccess Denied\r\n"
            "\tCommand Line :\tAccess Denied\r\n"
            "\tMemory Usage :\t0 Kb\r\n");
}

TEST(NetstatActions, LongProcessTextsAreCutNotDenied) {
  FakeLookups fake;
  fake.commandLine = "java -cp " + std::string(3000, 'j');
  fake.path = "/opt/" + std::string(2500, 'p');
  std::string text =
      BuildConnectionProperties(Cells(Udp("127.0.0.1", 53, "java", 42)), fake.lookups());
  EXPECT_NE(text.find("\tCommand Line :\tjava -cp jjj"), std::string::npos);
  EXPECT_EQ(text.find("Access Denied"), std::string::npos);
  // Each cut to the 1999 bytes of its buffer.
  EXPECT_NE(text.find("\t/opt/" + std::string(1994, 'p') + "\r\n"), std::string::npos);
  EXPECT_NE(text.find("\tjava -cp " + std::string(1990, 'j') + "\r\n"), std::string::npos);
  EXPECT_NE(text.find("Memory Usage"), std::string::npos);

  // With two long host names as well, the whole text stops at its 4999 bytes.
  fake.loopbackName = std::string(1500, 'h');
  text = BuildConnectionProperties(
      Cells(Tcp("127.0.0.1", 53, "127.0.0.1", 53, kTcpEstablished, "java", 42)), fake.lookups());
  EXPECT_EQ(text.size(), kPropertiesCapacity - 1);
  EXPECT_EQ(text.find("Memory Usage"), std::string::npos);
}

// The endpoints as the agent sends them: a batch reads back as the rows it was made of, byte for
// byte; a batch that lies (a name that could break a line, a count beyond its records, a state
// no table has) is refused whole and leaves the rows taken so far as they were.
TEST(NetstatRecords, BatchesReadBackAndLiesAreRefused) {
  const std::vector<EndpointRecord> records = {
      Tcp("127.0.12.12", 40000, "127.0.12.11", 8080, kTcpEstablished, "socat", 4242),
      Tcp6("::1", 22, "::", 0, kTcpListening), Udp("0.0.0.0", 53, "\xE9t\xE9", 7)};
  std::vector<EndpointRecord> taken;
  ASSERT_TRUE(DecodeEndpointBatch(EncodeEndpointBatch(records, 0, records.size()), taken));
  ASSERT_TRUE(DecodeEndpointBatch(EncodeEndpointBatch(records, 1, 2), taken));
  ASSERT_EQ(taken.size(), 4u);
  for (size_t i = 0; i < taken.size(); ++i) {
    const EndpointRecord& sent = records[i < 3 ? i : 1];
    EXPECT_EQ(Cells(taken[i]), Cells(sent)) << i;
    EXPECT_EQ(taken[i].remotePort, sent.remotePort) << i;
  }

  const std::vector<uint8_t> good = EncodeEndpointBatch(records, 0, 1);
  ASSERT_EQ(good.size(), 4u + 20u + 5u);  // the count, the record's fields, "socat"
  std::vector<uint8_t> newline = good;
  newline[4 + 20 + 2] = '\n';
  std::vector<uint8_t> counted = good;
  counted[3] = 2;  // two records, one there
  std::vector<uint8_t> state = good;
  state[4 + 2] = uint8_t(kTcpDeleteTcb + 1);
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  for (const auto& lie : {newline, counted, state, longer}) {
    EXPECT_FALSE(DecodeEndpointBatch(lie, taken));
    EXPECT_EQ(taken.size(), 4u);
  }
  EXPECT_FALSE(DecodeEndpointRecord(newline).has_value());
  EXPECT_EQ(Cells(*DecodeEndpointRecord(EncodeEndpointRecord(records[2]))), Cells(records[2]));
}

}  // namespace
