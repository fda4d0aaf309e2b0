// The set-up the README gives, as a member of the helper's group meets it: a copy of the helper
// granted to a group of the test's own (root:group, 0750, capabilities in its permitted set), a
// user in that group (setpriv, user nobody) and one outside it.
//  - The window holds no capability, however it is started: a copy of the program with the old
//    grant of its own, started with an inheritable capability too, loads a style plugin of the
//    user's (QT_PLUGIN_PATH), which writes the process's capability sets.
//  - Through the helper, the member captures, ends root's connection, flushes the neighbours,
//    sees root's sockets' owner and its facts, and pings over the raw socket, in the client
//    namespace of a lab of the test's own.
//  - A user outside the group cannot run the helper at all.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "capture/capture_service.h"
#include "host/helper_client.h"
#include "host/local_echo.h"
#include "host/local_netstat.h"
#include "host/local_services.h"
#include "loopback_sockets.h"
#include "net_lab.h"
#include "netinfo/netinfo_service.h"
#include "netstat/endpoint_source.h"
#include "netstat/process_info.h"
#include "ping/echo.h"
#include "test_util.h"

namespace {

// A group no account has: the test's own.
constexpr int kGroup = 60917;
constexpr const char* kUser = "--reuid=65534 --regid=65534";
constexpr const char* kCapabilities =
    "cap_net_raw,cap_net_admin,cap_sys_ptrace,cap_dac_read_search";
// Set in the copy of this program that runs as the member: what it is to work on.
constexpr const char* kInnerVariable = "PELORIN_HELPER_MEMBER";
constexpr uint16_t kCapturePort = 9;

// A folder the member can read, with the granted helper, the program with its old grant, this
// test program and the probe plugin.
class GrantedCopies {
 public:
  GrantedCopies() {
    chmod(dir_.path().c_str(), 0755);
    const std::string g = std::to_string(kGroup);
    const std::string script =
        "set -e; cd " + dir_.path() + "; cp " PELORIN_HELPER_PATH " pelorin-helper;" +
        "chown root:" + g + " pelorin-helper; chmod 0750 pelorin-helper;" + "setcap " +
        kCapabilities + "+p pelorin-helper;" + "cp " PELORIN_PROGRAM_PATH " pelorin; setcap " +
        kCapabilities + "+ep pelorin;" + "cp /proc/" + std::to_string(getpid()) +
        "/exe member_test;" +
        "mkdir -p plugins/styles run; chmod 0777 run; cp " PELORIN_PROBE_PLUGIN " plugins/styles/";
    RunCommand(script + " && echo done", &status_);
  }
  bool ok() const { return status_ == 0; }
  std::string file(const std::string& name) const { return dir_.file(name); }

 private:
  TempDir dir_;
  int status_ = -1;
};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class HelperMember : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qEnvironmentVariableIsSet(kInnerVariable)) GTEST_SKIP() << "the member's run";
    if (!IsRoot()) GTEST_SKIP() << "needs root to grant and to change user";
    ASSERT_TRUE(copies_.ok());
  }
  GrantedCopies copies_;
};

}  // namespace

TEST_F(HelperMember, TheWindowHoldsNoCapabilityWhateverItWasStartedWith) {
  const std::string out = copies_.file("run/capabilities");
  int exitCode = -1;
  const std::string printed = RunCommand(
      "timeout 60 setpriv " + std::string(kUser) + " --groups=" + std::to_string(kGroup) +
          " --inh-caps=+net_raw env -i QT_QPA_PLATFORM=offscreen HOME=" + copies_.file("run") +
          " XDG_RUNTIME_DIR=" + copies_.file("run") + " QT_PLUGIN_PATH=" + copies_.file("plugins") +
          " QT_STYLE_OVERRIDE=pelorinprobe PELORIN_PROBE_OUT=" + out + " " +
          copies_.file("pelorin") + " 2>&1",
      &exitCode);
  EXPECT_EQ(exitCode, 0) << printed;
  std::map<std::string, std::string> sets;
  std::istringstream lines(ReadWhole(out));
  for (std::string name, value; lines >> name >> value;) sets[name] = value;
  ASSERT_EQ(sets.size(), 5u) << "the plugin did not run: " << printed;
  for (const char* set : {"CapInh:", "CapPrm:", "CapEff:", "CapAmb:"}) {
    EXPECT_EQ(sets[set], "0000000000000000") << set;
  }
}

TEST_F(HelperMember, AMemberWorksThroughTheHelperAndNobodyElseMayRunIt) {
  const std::string g = std::to_string(kGroup);
  int member = -1, other = -1;
  RunCommand("setpriv " + std::string(kUser) + " --groups=" + g + " test -x " +
                 copies_.file("pelorin-helper"),
             &member);
  RunCommand(
      "setpriv " + std::string(kUser) + " --clear-groups test -x " + copies_.file("pelorin-helper"),
      &other);
  EXPECT_EQ(member, 0);
  EXPECT_EQ(other, 1) << "a user outside the group may run the helper";

  NetLab lab;
  ASSERT_TRUE(lab.ok()) << lab.error();
  const std::string client = lab.name(NetLab::kClient);
  // Root's connection in the client namespace, which both ends only read, so it stays up.
  uint16_t port = 0;
  std::unique_ptr<ChildProcess> listener, connector;
  {
    NetnsScope inside(client);
    ASSERT_TRUE(inside.entered());
    close(Listener("127.0.0.1", &port));
    listener = std::make_unique<ChildProcess>(std::vector<std::string>{
        "socat", "-u", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1", "OPEN:/dev/null"});
    ASSERT_TRUE(WaitUntil([&] {
      return RunCommand("ss -tlnH sport = :" + std::to_string(port)).find("LISTEN") !=
             std::string::npos;
    }));
    connector = std::make_unique<ChildProcess>(std::vector<std::string>{
        "socat", "-u", "TCP:127.0.0.1:" + std::to_string(port), "OPEN:/dev/null"});
    ASSERT_TRUE(WaitUntil([&] {
      return !RunCommand("ss -tnH state established sport = :" + std::to_string(port)).empty();
    }));
  }
  RunCommand("ip -n " + client +
             " neigh add 198.18.1.7 lladdr 02:00:00:00:00:07 dev e1 nud permanent;"
             "ip -n " +
             client + " neigh add 198.18.1.8 lladdr 02:00:00:00:00:08 dev e1 nud stale");
  const std::string index =
      RunCommand("ip netns exec " + client + " cat /sys/class/net/e1/ifindex");

  int exitCode = -1;
  const std::string out = RunCommand(
      "timeout 120 ip netns exec " + client + " setpriv " + kUser + " --groups=" + g + " env " +
          kInnerVariable + "=" + copies_.file("pelorin-helper") + ":" + std::to_string(port) + ":" +
          std::to_string(listener->pid()) + ":" + index.substr(0, index.find('\n')) + " " +
          copies_.file("member_test") + " --gtest_filter=HelperMemberInner.Run 2>&1",
      &exitCode);
  EXPECT_EQ(exitCode, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
  // The learned entry went, the administrator's stayed.
  const std::string neighbours = RunCommand("ip -n " + client + " neigh show dev e1 nud all");
  EXPECT_NE(neighbours.find("198.18.1.7 "), std::string::npos) << neighbours;
  EXPECT_EQ(neighbours.find("198.18.1.8 "), std::string::npos) << neighbours;
}

TEST(HelperMemberInner, Run) {
  const QString given = qEnvironmentVariable(kInnerVariable);
  if (given.isEmpty()) GTEST_SKIP() << "run by the test above";
  ASSERT_NE(geteuid(), 0u);
  UseHelperAt(given.section(':', 0, 0).toStdString());
  const uint16_t port = uint16_t(given.section(':', 1, 1).toUInt());
  const uint32_t rootSocat = given.section(':', 2, 2).toUInt();
  const int index = given.section(':', 3, 3).toInt();

  // Owners of root's sockets and the facts of their process.
  const auto snapshot = BuildEndpointSnapshot();
  ASSERT_NE(snapshot, nullptr);
  const auto server = std::find_if(
      snapshot->records.begin(), snapshot->records.end(),
      [&](auto& r) { return r.state == kTcpEstablished && r.localPort == htons(port); });
  ASSERT_NE(server, snapshot->records.end());
  EXPECT_EQ(server->processId, rootSocat);
  EXPECT_STREQ(server->processName, "socat");
  char path[300];
  ASSERT_EQ(ReadProcessParameter(rootSocat, kSelectImagePath, path, sizeof path), 0);
  EXPECT_TRUE(std::string(path).ends_with("/socat")) << path;

  // Ending root's connection; flushing the neighbours.
  EXPECT_EQ(DestroyTcpConnection(*server), 0);
  EXPECT_EQ(NewLocalNetInfoService()->flushNeighbours(index), 0);

  // An echo over the helper's raw socket (the namespace refuses ICMP datagram sockets).
  ASSERT_EQ(LoadEchoService(), 1);
  EXPECT_EQ(LoadedEchoSocketKind(), EchoSocketKind::Raw);
  EchoResult echo;
  EXPECT_EQ(SendEcho(LabAddress(kLabTarget), 64, 3000, &echo), 1);

  // A capture of the member's own datagram on loopback.
  CaptureFilter filter{};
  filter.includeUdp = 1;
  filter.portMode = 1;
  filter.ports[0] = htons(kCapturePort);
  const RunToken running;
  const CaptureOpening opening =
      NewLocalCaptureService()->open(IpAddress::Ipv4(htonl(INADDR_LOOPBACK)), filter, running);
  ASSERT_NE(opening.session, nullptr) << opening.error;
  uint16_t sinkPort = 0;
  const int sink = UdpSocket("127.0.0.1", &sinkPort);
  const sockaddr_in to = LoopbackAddress("127.0.0.1", kCapturePort);
  sendto(sink, "member", 6, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  auto record = std::make_unique<CapturedPacket>();
  CaptureBatch batch;
  int length = 0;  // of the first TCP or UDP packet with payload
  while (length == 0 && opening.session->read(batch, 1, running)) {
    const CaptureFrame& frame = batch.frames[0];
    if (DecodeFrame(opening.session->linkType(), frame.bytes, frame.capturedLength, record.get())) {
      length = int(frame.capturedLength);
    }
  }
  EXPECT_GT(length, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record->payload), record->payloadLength), "member");
  EXPECT_GE(opening.session->close().counts.received, 1u);
  close(sink);
}
