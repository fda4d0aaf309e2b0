#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sys/resolve_host.h"
#include "test_util.h"

namespace {

int g_lookups = 0;

std::optional<std::string> FakeName(uint32_t) {
  ++g_lookups;
  return std::string("host.example.test");
}

std::optional<std::string> FakeAddress(const std::string& name) {
  ++g_lookups;
  if (name == "missing.test") return std::nullopt;
  if (name == "long.test") return std::string(250, 'n');
  return std::string("192.168.100.200");
}

const HostLookups kFake{FakeName, FakeAddress};

}  // namespace

TEST(ResolveHost, RejectsBadInputWithoutALookup) {
  char out[64];
  g_lookups = 0;
  EXPECT_EQ(ResolveHostWith(kFake, "", out, sizeof out), 0);
  EXPECT_EQ(ResolveHostWith(kFake, nullptr, out, sizeof out), 0);
  EXPECT_EQ(ResolveHostWith(kFake, "a.test", nullptr, 10), 0);
  EXPECT_EQ(ResolveHostWith(kFake, "a.test", out, 0), 0);
  EXPECT_EQ(ResolveHostWith(kFake, std::string(129, 'a').c_str(), out, sizeof out), 0);
  EXPECT_EQ(g_lookups, 0);
  EXPECT_EQ(ResolveHostWith(kFake, std::string(128, 'a').c_str(), out, sizeof out), 1);
}

TEST(ResolveHost, AddressesGoBackwardNamesForward) {
  char out[64];
  ASSERT_EQ(ResolveHostWith(kFake, "10.1.2.3", out, sizeof out), 1);
  EXPECT_STREQ(out, "host.example.test");
  ASSERT_EQ(ResolveHostWith(kFake, "www.example.test", out, sizeof out), 1);
  EXPECT_STREQ(out, "192.168.100.200");
  // inet_addr cannot tell this one from its failure value, so it is looked up as a name.
  ASSERT_EQ(ResolveHostWith(kFake, "255.255.255.255", out, sizeof out), 1);
  EXPECT_STREQ(out, "192.168.100.200");
  EXPECT_EQ(ResolveHostWith(kFake, "missing.test", out, sizeof out), 0);
  // An IPv6 address is never looked up as a name.
  g_lookups = 0;
  EXPECT_EQ(ResolveHostWith(kFake, "2001:db8::1", out, sizeof out), 0);
  EXPECT_EQ(g_lookups, 0);
}

TEST(ResolveHost, CutsTheResultToTheCapacity) {
  char out[8];
  std::memset(out, 'z', sizeof out);
  ASSERT_EQ(ResolveHostWith(kFake, "www.example.test", out, sizeof out), 1);
  EXPECT_STREQ(out, "192.168");
  char big[300];
  ASSERT_EQ(ResolveHostWith(kFake, "long.test", big, sizeof big), 1);
  EXPECT_EQ(std::strlen(big), kResolveWorkBuffer - 1);
}

TEST(ResolveHost, DestinationMayBeTheName) {
  char buffer[64] = "www.example.test";
  ASSERT_EQ(ResolveHostWith(kFake, buffer, buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "192.168.100.200");
}

TEST(ResolveHost, SystemResolverOnLoopback) {
  char out[300];
  ASSERT_EQ(ResolveHost("localhost", out, sizeof out), 1);
  EXPECT_STREQ(out, "127.0.0.1");
  ASSERT_EQ(ResolveHost("127.0.0.1", out, sizeof out), 1);
  EXPECT_GT(std::strlen(out), 0u);
}

TEST(ResolveHost, SystemResolverTakesTheFirstIpv4AddressElseTheFirstIpv6One) {
  if (!IsRoot()) GTEST_SKIP() << "a hosts file of the test's own needs root";
  // ::1 sorts before an IPv4 address in the resolver's order, so both.test shows that the IPv4
  // address is taken all the same.
  const HostsFileShown hosts(
      "127.0.0.1 localhost\n::1 v6only.test\n2001:db8::7 v6only.test\n::1 both.test\n"
      "127.0.0.2 both.test\n");
  ASSERT_TRUE(hosts.shown());
  char out[300];
  ASSERT_EQ(ResolveHost("both.test", out, sizeof out), 1);
  EXPECT_STREQ(out, "127.0.0.2");
  ASSERT_EQ(ResolveHost("v6only.test", out, sizeof out), 1);
  EXPECT_STREQ(out, "::1");
  ASSERT_EQ(ResolveHost("0:0::1", out, sizeof out), 1);  // an address is looked up in reverse
  EXPECT_STREQ(out, "v6only.test");
}
