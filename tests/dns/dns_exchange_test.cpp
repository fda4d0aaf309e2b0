#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "dns/dns_exchange.h"
#include "dns/dns_format.h"
#include "sys/run_token.h"
#include "test_dns_server.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// Addresses of this test: the real server, a scripted one, one that never answers (when the
// test makes it so) or refuses, and one that sends a reply of its own to the scripted one's
// client.
constexpr const char* kServerAddress = "127.0.53.1";
constexpr const char* kScriptedAddress = "127.0.53.3";
constexpr const char* kSilentAddress = "127.0.53.4";
constexpr const char* kForgerAddress = "127.0.53.6";

TestDnsServer* const* const g_shared = ShareDnsServer(kServerAddress);
TestDnsServer* Server() {
  return *g_shared;
}
#define REQUIRE_SERVER() REQUIRE_DNS_SERVER(Server())

struct Exchange {
  int result = 0;
  DnsRequest request;
  std::vector<DnsRecord> records = std::vector<DnsRecord>(50);
  long elapsedMs = 0;
};

Exchange Ask(const char* server, const char* name, uint16_t type, uint32_t timeoutMs = 2000,
             int wakeFd = -1) {
  Exchange e;
  e.request.server = inet_addr(server);
  e.request.queryId = 1234;
  e.request.queryType = type;
  e.request.queryName = name;
  e.request.recursionDesired = 1;
  e.request.timeoutMs = timeoutMs;
  e.request.recordCount = int(e.records.size());
  e.request.records = e.records.data();
  e.request.responseCode = 77;
  e.request.wakeFd = wakeFd;
  const Clock::time_point start = Clock::now();
  e.result = DnsExchange(&e.request);
  e.elapsedMs =
      long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  return e;
}

// One line per record, "<section> <TYPE> <data>", names without their final dot.
std::string Describe(uint8_t section, const std::string& type, const std::string& data) {
  return std::to_string(section) + " " + type + " " + data;
}

std::vector<std::string> Describe(const Exchange& e) {
  std::vector<std::string> out;
  for (int i = 0; i < std::min(e.request.recordCount, 50); ++i) {
    const DnsRecord& r = e.records[size_t(i)];
    std::ostringstream data;
    switch (r.type) {
      case kDnsTypeA:
        out.push_back(Describe(r.section, "A", DottedAddress(r.address)));
        break;
      case kDnsTypeNs:
        out.push_back(Describe(r.section, "NS", r.name));
        break;
      case kDnsTypeCname:
        out.push_back(Describe(r.section, "CNAME", r.name));
        break;
      case kDnsTypePtr:
        out.push_back(Describe(r.section, "PTR", r.name));
        break;
      case kDnsTypeMx:
        out.push_back(Describe(r.section, "MX", std::to_string(r.preference) + " " + r.name));
        break;
      case kDnsTypeHinfo:
        out.push_back(
            Describe(r.section, "HINFO", "\"" + std::string(r.name) + "\" \"" + r.name2 + "\""));
        break;
      case kDnsTypeAaaa:
        out.push_back(Describe(r.section, "AAAA", IpAddress::Ipv6(r.address6).text()));
        break;
      case kDnsTypeSoa:
        data << r.name << " " << r.name2 << " " << r.serial << " " << r.refresh << " " << r.retry
             << " " << r.expire << " " << r.minimum;
        out.push_back(Describe(r.section, "SOA", data.str()));
        break;
      default:
        out.push_back(Describe(r.section, std::to_string(r.type), ""));
    }
  }
  return out;
}

struct DigAnswer {
  std::string status;
  std::vector<std::string> records;
};

// What dig reports for the same question (one try, no EDNS, no retry over TCP), in the same
// description.
DigAnswer Dig(const char* name, const char* type) {
  const std::string out = RunCommand(std::string("dig @") + kServerAddress +
                                     " +noedns +tries=1 +time=2 +ignore " + name + " " + type);
  DigAnswer answer;
  const std::map<std::string, uint8_t> sections = {
      {";; ANSWER SECTION:", 0}, {";; AUTHORITY SECTION:", 1}, {";; ADDITIONAL SECTION:", 2}};
  int section = -1;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (const size_t at = line.find("status: "); at != std::string::npos) {
      answer.status = line.substr(at + 8, line.find(',', at) - at - 8);
    }
    if (line.empty() || line[0] == ';') {
      const auto found = sections.find(line);
      section = found != sections.end() ? found->second : (line.empty() ? -1 : section);
      continue;
    }
    if (section < 0) continue;
    std::istringstream fields(line);
    std::string owner, ttl, cls, rrtype;
    fields >> owner >> ttl >> cls >> rrtype;
    std::string data, token;
    if (rrtype == "HINFO") {
      std::getline(fields >> std::ws, data);
    } else {
      while (fields >> token) {
        if (token.size() > 1 && token.back() == '.') token.pop_back();
        data += (data.empty() ? "" : " ") + token;
      }
    }
    answer.records.push_back(Describe(uint8_t(section), rrtype, data));
  }
  return answer;
}

// A server on port 53 that takes one query and answers with the given datagrams, after a
// forger on another address (port 53 too) sent its own datagram, if given, to the client.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<Bytes> replies, Bytes forged = {})
      : replies_(std::move(replies)), forged_(std::move(forged)) {
    fd_ = BindDnsPort(kScriptedAddress);
    bound_ = fd_ >= 0;
    if (bound_) thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedServer() {
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  bool bound() const { return bound_; }
  const Bytes& query() {
    if (thread_.joinable()) thread_.join();
    return query_;
  }

 private:
  void serve() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return;
    uint8_t buffer[2048];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0) return;
    query_.assign(buffer, buffer + n);
    if (!forged_.empty()) {
      // Connected, the forger hears the port-unreachable report of the client's system: the
      // forged datagram has been dealt with before any real one is sent.
      const int forger = BindDnsPort(kForgerAddress);
      if (forger >= 0) {
        connect(forger, reinterpret_cast<sockaddr*>(&from), fromLength);
        send(forger, forged_.data(), forged_.size(), 0);
        pollfd report{forger, 0, 0};
        poll(&report, 1, 5000);
        close(forger);
      }
    }
    for (const Bytes& reply : replies_) {
      sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
  }

  std::vector<Bytes> replies_;
  Bytes forged_;
  int fd_ = -1;
  bool bound_ = false;
  std::thread thread_;
  Bytes query_;
};

// A reply to "www.dns.test" A with one address (192.0.2.<last>).
Bytes OneAddressReply(uint16_t id, uint8_t last = 1) {
  Bytes r = {uint8_t(id >> 8), uint8_t(id), 0x81, 0x80, 0, 1, 0, 1, 0, 0, 0, 0};
  const Bytes q = BuildDnsQuery(id, kDnsTypeA, "www.dns.test", true);
  r.insert(r.end(), q.begin() + 12, q.end());
  const Bytes record = {0xC0, 12, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 192, 0, 2, last};
  r.insert(r.end(), record.begin(), record.end());
  return r;
}

}  // namespace

TEST(DnsExchangeWithServer, DecodesWhatDigReportsForEveryType) {
  REQUIRE_SERVER();
  const struct {
    const char* name;
    uint16_t type;
    const char* mnemonic;
  } queries[] = {{"www.dns.test", kDnsTypeA, "A"},
                 {"dns.test", kDnsTypeNs, "NS"},
                 {"alias.dns.test", kDnsTypeCname, "CNAME"},
                 {"dns.test", kDnsTypeSoa, "SOA"},
                 {"10.100.51.198.in-addr.arpa", kDnsTypePtr, "PTR"},
                 {"box.dns.test", kDnsTypeHinfo, "HINFO"},
                 {"dns.test", kDnsTypeMx, "MX"},
                 {"nope.dns.test", kDnsTypeA, "A"},
                 {"many.dns.test", kDnsTypeA, "A"},
                 {"v6.dns.test", kDnsTypeAaaa, "AAAA"},
                 {"www.sub.dns.test", kDnsTypeA, "A"}};  // a referral with IPv6 glue
  for (const auto& q : queries) {
    const Exchange e = Ask(kServerAddress, q.name, q.type);
    ASSERT_EQ(e.result, kDnsOk) << q.name;
    const DigAnswer dig = Dig(q.name, q.mnemonic);
    ASSERT_FALSE(dig.status.empty()) << "dig gave no answer for " << q.name;
    EXPECT_EQ(e.request.responseCode, dig.status == "NXDOMAIN" ? 3 : 0) << q.name;
    EXPECT_EQ(Describe(e), dig.records) << q.name << " " << q.mnemonic;
  }

  // The reverse name of an IPv6 address is the one dig asks for it.
  const std::string ip6Name = DnsQueryName(kDnsTypePtr, "2001:db8::10");
  const Exchange reverse = Ask(kServerAddress, ip6Name.c_str(), kDnsTypePtr);
  ASSERT_EQ(reverse.result, kDnsOk);
  EXPECT_EQ(Describe(reverse)[0], "0 PTR v6.dns.test");
  EXPECT_EQ(Describe(reverse), Dig("-x 2001:db8::10", "").records);
}

TEST(DnsExchangeScripted, SendsTheQueryAndTakesTheFirstDatagramWhateverItsId) {
  if (!IsRoot()) GTEST_SKIP() << "the scripted server needs root to listen on port 53";
  // An empty datagram is passed over; the reply's id differs from the query's.
  ScriptedServer server({Bytes{}, OneAddressReply(4321), OneAddressReply(1234)});
  ASSERT_TRUE(server.bound());
  const Exchange e = Ask(kScriptedAddress, "www.dns.test", kDnsTypeA);
  EXPECT_EQ(server.query(), BuildDnsQuery(1234, kDnsTypeA, "www.dns.test", true));
  ASSERT_EQ(e.result, kDnsOk);
  EXPECT_EQ(e.request.recordCount, 1);
  EXPECT_EQ(DottedAddress(e.records[0].address), "192.0.2.1");
}

TEST(DnsExchangeScripted, OnlyTheServersDatagramsAreTaken) {
  if (!IsRoot()) GTEST_SKIP() << "the scripted server needs root to listen on port 53";
  ScriptedServer server({OneAddressReply(1234)}, OneAddressReply(1234, 66));
  ASSERT_TRUE(server.bound());
  const Exchange e = Ask(kScriptedAddress, "www.dns.test", kDnsTypeA);
  ASSERT_EQ(e.result, kDnsOk);
  ASSERT_EQ(e.request.recordCount, 1);
  EXPECT_EQ(DottedAddress(e.records[0].address), "192.0.2.1");
}

// The first datagram ends the wait, even when it cannot be read: a good reply after it is not
// taken.
TEST(DnsExchangeScripted, ADatagramTooLongOrTooShortIsNoReply) {
  if (!IsRoot()) GTEST_SKIP() << "the scripted server needs root to listen on port 53";
  {
    Bytes tooLong = OneAddressReply(1234);
    tooLong.resize(kDnsReceiveBuffer + 1);
    ScriptedServer server({tooLong, OneAddressReply(1234)});
    const Exchange e = Ask(kScriptedAddress, "www.dns.test", kDnsTypeA, 3000);
    EXPECT_EQ(e.result, kDnsNoReply);
    EXPECT_EQ(e.request.recordCount, 0);
    EXPECT_EQ(e.request.responseCode, 77);
  }
  {
    Bytes longest = OneAddressReply(1234);
    longest.resize(kDnsReceiveBuffer);  // padding after the records is not read
    ScriptedServer server({longest});
    EXPECT_EQ(Ask(kScriptedAddress, "www.dns.test", kDnsTypeA).request.recordCount, 1);
  }
  {
    ScriptedServer server({Bytes{0x04, 0xD2, 0x81, 0x80, 0, 1}, OneAddressReply(1234)});
    const Exchange e = Ask(kScriptedAddress, "www.dns.test", kDnsTypeA, 3000);
    EXPECT_EQ(e.result, kDnsNoReply);
  }
}

TEST(DnsExchangeScripted, AReplyThatFallsShortGivesTheRecordsReadInFull) {
  if (!IsRoot()) GTEST_SKIP() << "the scripted server needs root to listen on port 53";
  Bytes reply = OneAddressReply(1234);
  reply[7] = 3;  // ANCOUNT 3, one record present
  ScriptedServer server({reply});
  const Exchange e = Ask(kScriptedAddress, "www.dns.test", kDnsTypeA);
  ASSERT_EQ(e.result, kDnsOk);
  EXPECT_EQ(e.request.recordCount, 1);
}

TEST(DnsExchange, ASilentServerTimesOut) {
  SilentDnsServer silent(kSilentAddress);
  REQUIRE_SILENT_SERVER(silent);
  const Exchange e = Ask(kSilentAddress, "www.dns.test", kDnsTypeA, 300);
  EXPECT_EQ(e.result, kDnsNoReply);
  EXPECT_EQ(e.request.recordCount, 0);
  EXPECT_EQ(e.request.responseCode, 77);
  EXPECT_GE(e.elapsedMs, 300);
}

// Waits that only their end condition can end: their time-out lies beyond the test program's
// own limit, so a wait that missed it fails the test.
constexpr uint32_t kBeyondTheTestsLimitMs = 600000;

TEST(DnsExchange, AServerThatRefusesFailsAtOnce) {
  // Nothing listens: the system's report ends the wait.
  const Exchange e = Ask(kSilentAddress, "www.dns.test", kDnsTypeA, kBeyondTheTestsLimitMs);
  EXPECT_EQ(e.result, kDnsNoReply);
  EXPECT_EQ(e.request.recordCount, 0);
}

TEST(DnsExchange, TheStopSignalEndsTheWaitAtOnce) {
  SilentDnsServer silent(kSilentAddress);
  REQUIRE_SILENT_SERVER(silent);
  RunToken token;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    token.cancel();
  });
  const Exchange e =
      Ask(kSilentAddress, "www.dns.test", kDnsTypeA, kBeyondTheTestsLimitMs, token.wakeFd());
  stopper.join();
  EXPECT_EQ(e.result, kDnsNoReply);
}

TEST(DnsExchange, ReportsEachFailureAndLeavesTheCodeAlone) {
  EXPECT_EQ(DnsExchange(nullptr), kDnsNoRequest);

  const std::string tooLong(256, 'a');
  for (const auto& [name, type] :
       {std::pair{tooLong.c_str(), kDnsTypeA}, std::pair{"www.dns.test", uint16_t(16)},
        std::pair{static_cast<const char*>(nullptr), kDnsTypeA}}) {
    const Exchange e = Ask(kSilentAddress, name, type);
    EXPECT_EQ(e.result, kDnsQueryNotBuilt);
    EXPECT_EQ(e.request.recordCount, 0);
    EXPECT_EQ(e.request.responseCode, 77);
  }
  // The network refuses the all-ones address without a broadcast permission.
  const Exchange broadcast = Ask("255.255.255.255", "www.dns.test", kDnsTypeA);
  EXPECT_EQ(broadcast.result, kDnsSendFailed);
  EXPECT_EQ(broadcast.request.recordCount, 0);
}
