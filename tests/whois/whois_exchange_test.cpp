#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "whois/whois_exchange.h"
#include "whois_test_server.h"

namespace {

// Names the tests' lookups know; nothing reaches the machine's resolver.
std::optional<std::string> AddressOf(const std::string& name) {
  if (name == "whois.one.test") return "127.0.43.1";
  return std::nullopt;
}
std::optional<std::string> NameOf(uint32_t) {
  return std::nullopt;
}
const HostLookups kLookups{NameOf, AddressOf};

// Every wait is bounded.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

#define REQUIRE_LISTENING(server) \
  if (!(server).listening()) GTEST_SKIP() << "cannot listen on port 43 (needs root)"

WhoisExchangeResult Exchange(const std::string& server, const std::string& query,
                             size_t limit = kWhoisAnswerLimit) {
  RunToken token;
  return ExchangeWhois(server, query, token, kLookups, limit);
}

}  // namespace

TEST(IsDottedAddress, AcceptsWhatInetAddrAccepts) {
  EXPECT_TRUE(IsDottedAddress("192.0.2.1"));
  EXPECT_TRUE(IsDottedAddress("127.1"));
  EXPECT_TRUE(IsDottedAddress("0x7f.0.0.1"));
  EXPECT_FALSE(IsDottedAddress("255.255.255.255"));
  EXPECT_FALSE(IsDottedAddress("192.0.2.256"));
  EXPECT_FALSE(IsDottedAddress("example.com"));
  EXPECT_FALSE(IsDottedAddress(""));
}

TEST(ExchangeWhois, SendsTheQueryToTheResolvedNameAndReadsUntilClose) {
  TestWhoisServer server("127.0.43.1", {{"domain: EXAMPLE.DE\n", "status: connect\n"}, 20});
  REQUIRE_LISTENING(server);
  const WhoisExchangeResult r = Exchange("whois.one.test", "example.de");
  EXPECT_EQ(r.status, WhoisExchangeStatus::Ok);
  EXPECT_EQ(r.answer, "domain: EXAMPLE.DE\r\nstatus: connect\r\n");
  EXPECT_EQ(server.requests(), std::vector<std::string>{"example.de\r\n"});
}

TEST(ExchangeWhois, ReportsEachFailureAsItsStatus) {
  EXPECT_EQ(Exchange("whois.unknown.test", "x.de").status, WhoisExchangeStatus::ResolveFailed);
  EXPECT_EQ(Exchange(std::string(129, 'a'), "x.de").status, WhoisExchangeStatus::ResolveFailed);
  EXPECT_EQ(Exchange("127.0.43.19", "x.de").status, WhoisExchangeStatus::ConnectFailed);
}

TEST(ExchangeWhois, CutsChunksAtZeroBytesAndStopsAtTheLimit) {
  {
    TestWhoisServer server("127.0.43.2", {{std::string("abc\0def", 7), "ghi"}, 50});
    REQUIRE_LISTENING(server);
    const WhoisExchangeResult r = Exchange("127.0.43.2", "x");
    EXPECT_EQ(r.status, WhoisExchangeStatus::Ok);
    EXPECT_EQ(r.answer, "abcghi");
  }
  {
    TestWhoisServer server("127.0.43.3", {{std::string(6000, 'x'), std::string(4000, 'y')}});
    EXPECT_EQ(Exchange("127.0.43.3", "x", 10000).answer.size(), 10000u);
    EXPECT_EQ(Exchange("127.0.43.3", "x", 9999).status, WhoisExchangeStatus::NoMemory);
  }
}

TEST(ExchangeWhois, EndsAtOnceWhenCancelledWhileTheServerIsSilent) {
  WhoisServerScript script;
  script.end = WhoisServerScript::End::Hold;
  TestWhoisServer server("127.0.43.4", script);
  REQUIRE_LISTENING(server);
  RunToken token;
  WhoisExchangeResult result;
  std::thread worker([&] { result = ExchangeWhois("127.0.43.4", "x", token, kLookups); });
  EXPECT_TRUE(WaitFor([&] { return server.requestCount() == 1; }));
  token.cancel();
  worker.join();
  EXPECT_EQ(result.status, WhoisExchangeStatus::Cancelled);
  EXPECT_TRUE(result.answer.empty());
  EXPECT_TRUE(WaitFor([&] { return server.clientsGone() == 1; }));

  RunToken stopped;
  stopped.cancel();
  EXPECT_EQ(ExchangeWhois("127.0.43.4", "x", stopped, kLookups).status,
            WhoisExchangeStatus::Cancelled);
}
