#include "test_dns_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "dns/dns_exchange.h"
#include "sys/socket_address.h"

namespace {

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

std::string Config(const std::string& address, bool alsoIpv6Loopback, const std::string& dir) {
  return "server:\n"
         "  ip-address: " +
         address + "@53\n" + (alsoIpv6Loopback ? "  ip-address: ::1@53\n" : "") +
         "  username: \"\"\n"
         "  chroot: \"\"\n"
         "  zonesdir: \"" +
         dir +
         "\"\n"
         "  pidfile: \"" +
         dir +
         "/nsd.pid\"\n"
         "  database: \"\"\n"
         "  zonelistfile: \"" +
         dir +
         "/zone.list\"\n"
         "  xfrdfile: \"" +
         dir +
         "/xfrd.state\"\n"
         "  xfrdir: \"" +
         dir +
         "\"\n"
         "  logfile: \"" +
         dir +
         "/nsd.log\"\n"
         "  server-count: 1\n"
         // No response rate limiting: the benchmark asks thousands of times a second.
         "  rrl-ratelimit: 0\n"
         "remote-control:\n"
         "  control-enable: no\n"
         "zone:\n"
         "  name: \"dns.test\"\n"
         "  zonefile: \"dns.test.zone\"\n"
         "zone:\n"
         "  name: \"100.51.198.in-addr.arpa\"\n"
         "  zonefile: \"reverse.zone\"\n"
         "zone:\n"
         "  name: \"8.b.d.0.1.0.0.2.ip6.arpa\"\n"
         "  zonefile: \"reverse6.zone\"\n";
}

// The SOA serial is above 2^31 so that its display as a signed number shows.
std::string ForwardZone() {
  std::string zone =
      "$ORIGIN dns.test.\n"
      "$TTL 3600\n"
      "@       IN SOA   ns1.dns.test. hostmaster.dns.test. 3000000000 7200 900 1209600 300\n"
      "@       IN NS    ns1.dns.test.\n"
      "@       IN NS    ns2.dns.test.\n"
      "@       IN MX    10 mail.dns.test.\n"
      "@       IN MX    20 backup.dns.test.\n"
      "ns1     IN A     198.51.100.53\n"
      "ns2     IN A     198.51.100.54\n"
      "www     IN A     198.51.100.10\n"
      "www     IN A     198.51.100.11\n"
      "alias   IN CNAME www.dns.test.\n"
      "mail    IN A     203.0.113.25\n"
      "backup  IN A     203.0.113.26\n"
      "box     IN HINFO \"x86_64\" \"Linux 6.1\"\n"
      // Bytes no name should hold: CR LF, a Latin-1 label, a UTF-8 one, a zero, a backslash.
      "forged  IN CNAME line\\013\\010[additional\\032records].caf\\233.caf\\195\\169.dns.test.\n"
      "odd     IN HINFO \"caf\\233\\000\" \"x\\\\y\"\n"
      "v6      IN AAAA  2001:db8::10\n"
      "v6      IN AAAA  2001:db8:0:1::11\n"
      "sub     IN NS    ns.sub.dns.test.\n"
      "ns.sub  IN AAAA  2001:db8::153\n";
  for (int i = 1; i <= 60; ++i) zone += "many    IN A     203.0.113." + std::to_string(i) + "\n";
  return zone;
}

std::string ReverseZone() {
  return "$ORIGIN 100.51.198.in-addr.arpa.\n"
         "$TTL 3600\n"
         "@       IN SOA   ns1.dns.test. hostmaster.dns.test. 7 7200 900 1209600 300\n"
         "@       IN NS    ns1.dns.test.\n"
         "10      IN PTR   www.dns.test.\n";
}

// The PTR record of 2001:db8::10.
std::string Ipv6ReverseZone() {
  return "$ORIGIN 8.b.d.0.1.0.0.2.ip6.arpa.\n"
         "$TTL 3600\n"
         "@       IN SOA   ns1.dns.test. hostmaster.dns.test. 7 7200 900 1209600 300\n"
         "@       IN NS    ns1.dns.test.\n"
         "0.1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0 IN PTR v6.dns.test.\n";
}

}  // namespace

namespace {

// Whether something already has the address's DNS port: the probes below would then be answered
// by it, and the server would pass for ready though it never started.
bool PortTaken(const std::string& address) {
  const int fd = BindDnsPort(address.c_str());
  if (fd >= 0) close(fd);
  return fd < 0;
}

}  // namespace

TestDnsServer::TestDnsServer(std::string address, bool alsoIpv6Loopback)
    : address_(std::move(address)), alsoIpv6Loopback_(alsoIpv6Loopback) {
  if (!IsRoot() || PortTaken(address_) || (alsoIpv6Loopback_ && PortTaken("::1"))) return;
  WriteFile(dir_.file("nsd.conf"), Config(address_, alsoIpv6Loopback_, dir_.path()));
  WriteFile(dir_.file("dns.test.zone"), ForwardZone());
  WriteFile(dir_.file("reverse.zone"), ReverseZone());
  WriteFile(dir_.file("reverse6.zone"), Ipv6ReverseZone());
  nsd_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"nsd", "-d", "-c", dir_.file("nsd.conf")});

  // Ready once it answers; it usually takes a few hundred milliseconds. Until it listens, a
  // probe is refused at once, so the attempts are spaced.
  for (int attempt = 0; attempt < 50 && !ready_ && nsd_->running(); ++attempt) {
    DnsRequest probe;
    probe.server = server();
    probe.queryType = kDnsTypeSoa;
    probe.queryName = kTestZone;
    probe.timeoutMs = 100;
    ready_ = DnsExchange(&probe) == kDnsOk;
    if (ready_ && alsoIpv6Loopback_) {
      probe.serverIpv6 = DnsIpv6Server{*ParseIpv6Address("::1"), 0};
      ready_ = DnsExchange(&probe) == kDnsOk;
    }
    if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ready_ = ready_ && nsd_->running();
}

TestDnsServer::~TestDnsServer() {
  if (nsd_) nsd_->stop(5000);
}

uint32_t TestDnsServer::server() const {
  return inet_addr(address_.c_str());
}

namespace {

class DnsServerEnvironment : public ::testing::Environment {
 public:
  DnsServerEnvironment(const char* address, bool alsoIpv6Loopback)
      : address_(address), alsoIpv6Loopback_(alsoIpv6Loopback) {}
  void SetUp() override { server_ = new TestDnsServer(address_, alsoIpv6Loopback_); }
  void TearDown() override {
    delete server_;
    server_ = nullptr;
  }
  TestDnsServer* const* slot() const { return &server_; }

 private:
  std::string address_;
  bool alsoIpv6Loopback_;
  TestDnsServer* server_ = nullptr;
};

}  // namespace

TestDnsServer* const* ShareDnsServer(const char* address, bool alsoIpv6Loopback) {
  auto* environment = new DnsServerEnvironment(address, alsoIpv6Loopback);
  ::testing::AddGlobalTestEnvironment(environment);  // gtest owns it
  return environment->slot();
}

int BindDnsPort(const char* address) {
  const std::optional<IpAddress> parsed = ParseIpAddress(address);
  if (!parsed) return -1;
  const SocketAddress at = MakeSocketAddress(*parsed, 53);
  const int fd = socket(at.storage.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && bind(fd, at.get(), at.length) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

SilentDnsServer::SilentDnsServer(const char* address)
    : fd_(BindDnsPort(address)), bound_(fd_ >= 0) {}

SilentDnsServer::~SilentDnsServer() {
  if (fd_ >= 0) close(fd_);
}
