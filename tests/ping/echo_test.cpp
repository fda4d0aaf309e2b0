// The echo service against real routers: a chain of network namespaces built by each test.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/local_echo.h"
#include "net_lab.h"
#include "ping/echo.h"
#include "ping/ping_trace.h"
#include "test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsSince(Clock::time_point start) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// One echo: what SendEcho returned and filled in.
struct Echo {
  int answered;
  EchoResult result;
};

Echo Send(const char* to, int ttl, uint32_t timeoutMs = 2000, int wakeFd = -1) {
  Echo echo{};
  echo.answered = SendEcho(LabAddress(to), ttl, timeoutMs, &echo.result, wakeFd);
  return echo;
}

// The lab, with this thread in the client namespace and the service loaded there.
class EchoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsRoot()) GTEST_SKIP() << "network namespaces and raw ICMP need root";
    UseBuiltHelper();  // the raw socket is the helper's
    lab_ = std::make_unique<NetLab>();
    ASSERT_TRUE(lab_->ok()) << lab_->error();
    client_ = std::make_unique<NetnsScope>(lab_->name(NetLab::kClient));
    ASSERT_TRUE(client_->entered());
    ASSERT_EQ(LoadEchoService(), 1);
  }
  void TearDown() override {
    client_.reset();  // leave before the namespaces go
    lab_.reset();
  }

  std::unique_ptr<NetLab> lab_;
  std::unique_ptr<NetnsScope> client_;
};

void ExpectAnswer(const Echo& echo, uint32_t status, const char* from) {
  EXPECT_EQ(echo.answered, 1);
  EXPECT_EQ(echo.result.status, status);
  EXPECT_EQ(DottedAddress(echo.result.address), from);
  EXPECT_GE(echo.result.roundTripMs, 0);
}

void ExpectFailure(const Echo& echo, uint32_t status, const char* from) {
  EXPECT_EQ(echo.answered, 0);
  EXPECT_EQ(echo.result.status, status);
  EXPECT_EQ(DottedAddress(echo.result.address), from);
  EXPECT_EQ(echo.result.roundTripMs, -1);
}

// One echo to an IPv6 address: what SendEcho returned, with who answered ("::": nobody).
struct Echo6 {
  int answered;
  EchoResult result;
  std::string from;
};

Echo6 Send6(const char* to, int ttl) {
  Echo6 echo{};
  IpAddress answerer = IpAddress::Ipv4(0x01010101);  // overwritten whatever comes
  echo.answered = SendEcho(Lab6Address(to), ttl, 2000, &echo.result, &answerer);
  echo.from = answerer.text();
  EXPECT_EQ(echo.result.address, 0u);
  return echo;
}

void ExpectEcho6(const Echo6& echo, int answered, uint32_t status, const char* from) {
  EXPECT_EQ(echo.answered, answered) << from;
  EXPECT_EQ(echo.result.status, status) << from;
  EXPECT_EQ(echo.from, from);
  if (answered == 1) {
    EXPECT_GE(echo.result.roundTripMs, 0);
  } else {
    EXPECT_EQ(echo.result.roundTripMs, -1);
  }
}

}  // namespace

TEST_F(EchoTest, RawSocketHearsTheTargetAndEveryRouter) {
  EXPECT_EQ(LoadedEchoSocketKind(), EchoSocketKind::Raw);  // ping_group_range refuses root here
  ExpectAnswer(Send(kLabTarget, 128, 3000), kEchoSuccess, kLabTarget);
  ExpectAnswer(Send(kLabTarget, 1), kEchoTtlExpiredTransit, kLabRouter1);
  ExpectAnswer(Send(kLabTarget, 2), kEchoTtlExpiredTransit, kLabRouter2);
  ExpectAnswer(Send(kLabTarget, 3), kEchoTtlExpiredTransit, kLabRouter3);
  ExpectAnswer(Send(kLabTarget, 4), kEchoSuccess, kLabTarget);
  // TTL 0 goes out as 255; only the low 8 bits of a TTL count.
  ExpectAnswer(Send(kLabTarget, 0), kEchoSuccess, kLabTarget);
  ExpectAnswer(Send(kLabTarget, 256), kEchoSuccess, kLabTarget);
  ExpectAnswer(Send(kLabTarget, 257), kEchoTtlExpiredTransit, kLabRouter1);
  EXPECT_GE(PingOnce(LabAddress(kLabTarget)), 0);
}

// ICMPv6 through the helper's raw socket: the hop limit reaches every router, each report is
// classified, and what cannot have one host to answer is refused before anything is sent.
TEST_F(EchoTest, OverIpv6TheTargetEveryRouterAndEveryReport) {
  ExpectEcho6(Send6(kLab6Target, 128), 1, kEchoSuccess, kLab6Target);
  ExpectEcho6(Send6(kLab6Target, 1), 1, kEchoTtlExpiredTransit, kLab6Router1);
  ExpectEcho6(Send6(kLab6Target, 2), 1, kEchoTtlExpiredTransit, kLab6Router2);
  ExpectEcho6(Send6(kLab6Target, 3), 1, kEchoTtlExpiredTransit, kLab6Router3);
  ExpectEcho6(Send6(kLab6Target, 4), 1, kEchoSuccess, kLab6Target);
  ExpectEcho6(Send6(kLab6NetUnreachable, 128), 0, kEchoDestNetUnreachable, kLab6Router3);
  ExpectEcho6(Send6(kLab6HostUnreachable, 128), 0, kEchoDestHostUnreachable, kLab6Router3);
  ExpectEcho6(Send6(kLab6LocallyUnreachable, 128), 0, kEchoDestHostUnreachable, "::");
  for (const char* refused : {"::", "ff02::1", "::ffff:198.18.4.2"}) {
    ExpectEcho6(Send6(refused, 128), 0, kEchoBadDestination, "::");
  }
  EXPECT_GE(PingOnce(Lab6Address(kLab6Target)), 0);
}

// r1 answers a broadcast echo, but one of what may be many replies is no answer: the send is
// refused, as broadcast is not enabled.
TEST_F(EchoTest, ABroadcastDestinationFails) {
  ExpectFailure(Send(kLabClientBroadcast, 128), kEchoBadDestination, "0.0.0.0");
}

// r1 answers an echo to the all-hosts group as well; a group is refused like a broadcast.
TEST_F(EchoTest, AMulticastDestinationFailsAsABroadcastOneDoes) {
  ExpectFailure(Send(kLabAllHosts, 128), kEchoBadDestination, "0.0.0.0");
  ExpectFailure(Send(kLabAllHosts, 1), kEchoBadDestination, "0.0.0.0");
}

// The request as the target receives it: TOS 0, IP flags 0 (no Don't Fragment), 32 bytes of 'E'.
TEST_F(EchoTest, TheRequestGoesOutWithIpFlagsZero) {
  int listener = -1;
  {
    NetnsScope target(lab_->name(NetLab::kTarget));
    ASSERT_TRUE(target.entered());
    listener = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);  // sees incoming ICMP
  }
  ASSERT_GE(listener, 0);
  ExpectAnswer(Send(kLabTarget, 128), kEchoSuccess, kLabTarget);
  uint8_t packet[2000];
  ssize_t n = 0;
  while ((n = recv(listener, packet, sizeof packet, MSG_DONTWAIT)) > 0) {
    const size_t header = size_t(packet[0] & 0x0F) * 4;
    if (size_t(n) == header + 40 && packet[header] == 8) break;  // the echo request
  }
  close(listener);
  ASSERT_GT(n, 0);
  EXPECT_EQ(packet[1], 0);         // type of service
  EXPECT_EQ(packet[6] & 0xE0, 0);  // flags
  EXPECT_EQ(packet[8], 125);       // TTL 128 less three routers
  const size_t header = size_t(packet[0] & 0x0F) * 4;
  EXPECT_EQ(std::string(reinterpret_cast<char*>(packet) + header + 8, 32), std::string(32, 'E'));
}

TEST_F(EchoTest, UnreachableReportsEndTheEchoWithTheRoutersAddress) {
  ExpectFailure(Send(kLabNetUnreachable, 128), kEchoDestNetUnreachable, kLabRouter3);
  ExpectFailure(Send(kLabHostUnreachable, 128), kEchoDestHostUnreachable, kLabRouter3);
  EXPECT_EQ(PingOnce(LabAddress(kLabHostUnreachable)), -1);
  // The client's own table refuses the route: the send itself fails, nobody reports.
  ExpectFailure(Send(kLabLocallyUnreachable, 128), kEchoDestHostUnreachable, "0.0.0.0");
}

// While one echo waits in vain, replies and reports for other requests (ours with other
// sequence numbers, and a system ping's with another identifier) reach its socket.
TEST_F(EchoTest, OtherTrafficNeverAnswersAWaitingEcho) {
  ChildProcess systemPing({"ping", "-q", "-c", "25", "-i", "0.1", kLabTarget});
  const Clock::time_point start = Clock::now();
  std::future<Echo> waiting = std::async(std::launch::async, [] {
    return Send(kLabSilent, 128, 0);  // a time-out of 0 waits 3000 ms
  });
  while (waiting.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
    ExpectAnswer(Send(kLabTarget, 128), kEchoSuccess, kLabTarget);
    ExpectAnswer(Send(kLabTarget, 1), kEchoTtlExpiredTransit, kLabRouter1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const int waited = MillisecondsSince(start);
  ExpectFailure(waiting.get(), kEchoReqTimedOut, "0.0.0.0");
  EXPECT_GE(waited, 2990);
}

// The echo's time-out lies beyond the test program's own limit: only the wake-up can end it.
TEST_F(EchoTest, WakeDescriptorEndsTheWaitAtOnce) {
  const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  ASSERT_GE(wake, 0);
  std::thread waker([wake] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const uint64_t one = 1;
    EXPECT_EQ(write(wake, &one, sizeof one), 8);
  });
  const Echo echo = Send(kLabSilent, 128, 600000, wake);
  waker.join();
  close(wake);
  EXPECT_EQ(echo.answered, 0);
  EXPECT_EQ(echo.result.roundTripMs, -1);
}

TEST(EchoService, NoResultRecordSendsNothing) {
  EXPECT_EQ(SendEcho(LabAddress(kLabTarget), 128, 3000, nullptr), 0);
}

// The datagram socket's path, and the path without any privilege, each as user nobody in the
// client namespace through a small program of the tests.
class UnprivilegedEchoTest : public EchoTest {
 protected:
  std::vector<std::string> probe(const std::string& echoes) {
    // The probe must be reachable by nobody: copy it out of the build tree.
    const std::string copy = dir_.file("ping_echo_probe");
    RunCommand("cp " + std::string(PING_ECHO_PROBE) + " " + copy);
    chmod(dir_.path().c_str(), 0755);
    chmod(copy.c_str(), 0755);
    int exitCode = -1;
    const std::string output =
        RunCommand("ip netns exec " + lab_->name(NetLab::kClient) +
                       " setpriv --reuid=65534 --regid=65534 --clear-groups " + copy + " " + echoes,
                   &exitCode);
    EXPECT_EQ(exitCode, 0) << output;
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  TempDir dir_;
};

TEST_F(UnprivilegedEchoTest, DatagramSocketWhereTheGroupMayPing) {
  ASSERT_TRUE(lab_->allowDatagramPing(65534)) << lab_->error();
  const std::vector<std::string> lines =
      probe(std::string(kLabTarget) + " 128 3000 " + kLabTarget + " 1 2000 " + kLabTarget +
            " 3 2000 " + kLabNetUnreachable + " 128 2000 " + kLabHostUnreachable + " 128 2000");
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "load 1 datagram");
  EXPECT_TRUE(lines[1].starts_with("1 0 198.18.4.2 ")) << lines[1];
  EXPECT_NE(lines[1], "1 0 198.18.4.2 -1");
  EXPECT_TRUE(lines[2].starts_with("1 11013 198.18.1.1 ")) << lines[2];
  EXPECT_TRUE(lines[3].starts_with("1 11013 198.18.3.2 ")) << lines[3];
  EXPECT_EQ(lines[4], "0 11002 198.18.3.2 -1");
  EXPECT_EQ(lines[5], "0 11003 198.18.3.2 -1");
}

TEST_F(UnprivilegedEchoTest, Icmpv6DatagramSocketWhereTheGroupMayPing) {
  ASSERT_TRUE(lab_->allowDatagramPing(65534)) << lab_->error();
  const std::vector<std::string> lines =
      probe(std::string(kLab6Target) + " 128 3000 " + kLab6Target + " 1 2000 " + kLab6Target +
            " 3 2000 " + kLab6NetUnreachable + " 128 2000 " + kLab6HostUnreachable + " 128 2000");
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "load 1 datagram");
  EXPECT_TRUE(lines[1].starts_with("1 0 2001:2:0:4::2 ")) << lines[1];
  EXPECT_NE(lines[1], "1 0 2001:2:0:4::2 -1");
  EXPECT_TRUE(lines[2].starts_with("1 11013 2001:2:0:1::1 ")) << lines[2];
  EXPECT_TRUE(lines[3].starts_with("1 11013 2001:2:0:3::2 ")) << lines[3];
  EXPECT_EQ(lines[4], "0 11002 2001:2:0:3::2 -1");
  EXPECT_EQ(lines[5], "0 11003 2001:2:0:3::2 -1");
}

TEST_F(UnprivilegedEchoTest, WithoutPrivilegeNothingLoadsAndEchoesFail) {
  const std::vector<std::string> lines = probe(std::string(kLabTarget) + " 128 3000");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "load 0 none");
  EXPECT_EQ(lines[1], "0 11050 0.0.0.0 -1");
}
