// A host reached with the system's ssh client: a real sshd in a router namespace of the test's
// own lab, the window's side in the client namespace, the user's ssh configuration shown at
// /etc/ssh/ssh_config. What comes back is the far namespace's, and every failure is said in the
// user's terms.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_service.h"
#include "capture/captured_packet.h"
#include "host/host.h"
#include "host/ssh_host.h"
#include "net_lab.h"
#include "netstat/endpoint_table.h"
#include "netstat/netstat_service.h"
#include "test_util.h"
#include "wire/frame.h"

namespace {

// Before any thread: the configuration is shown to the whole test process and the ssh it
// starts, in a mount namespace of the process's own (a thread's own would be shared with the
// threads a host starts, and could not be left).
const bool kOwnFiles = (ShowFilesToTheWholeProcess(), true);

class SshHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsRoot()) GTEST_SKIP() << "sshd and network namespaces need root";
    if (access("/usr/sbin/sshd", X_OK) != 0) GTEST_SKIP() << "openssh-server is not installed";
    lab_ = std::make_unique<NetLab>();
    ASSERT_TRUE(lab_->ok()) << lab_->error();
    for (const char* key : {"hostkey", "otherkey", "id", "stranger"}) {
      ASSERT_EQ(RunCommand("ssh-keygen -q -t ed25519 -N '' -f " + dir_.file(key) + " && echo ok"),
                "ok\n");
    }
    RunCommand("cp " + dir_.file("id.pub") + " " + dir_.file("authorized_keys"));
    knowHostKey("hostkey");
    mkdir("/run/sshd", 0755);  // sshd's own empty folder
    const std::string folder =
        std::string(PELORIN_AGENT_PATH).substr(0, std::string(PELORIN_AGENT_PATH).rfind('/'));
    withAgent_ = startSshd(22, folder + ":/usr/bin:/bin");
    withoutAgent_ = startSshd(2222, "/usr/bin:/bin");
    writeConfig("id", "yes");
    shown_ = std::make_unique<FileShownAt>(dir_.file("ssh_config"), "/etc/ssh/ssh_config");
    ASSERT_TRUE(shown_->shown());
    client_ = std::make_unique<NetnsScope>(lab_->name(NetLab::kClient));
    ASSERT_TRUE(client_->entered());
    ASSERT_TRUE(WaitUntil(
        [&] { return RunCommand("ssh -T lab true 2>/dev/null && echo ok") == "ok\n"; }, 10000))
        << "sshd did not start";
  }
  void TearDown() override {
    client_.reset();
    shown_.reset();
    withAgent_.reset();
    withoutAgent_.reset();
    lab_.reset();
  }

  std::unique_ptr<ChildProcess> startSshd(int port, const std::string& path) {
    // Started from inside the router namespace, so the child is sshd itself and ends with it.
    NetnsScope router(lab_->name(NetLab::kRouter1));
    return std::make_unique<ChildProcess>(SshdCommand(
        dir_.path(), std::string(kLabRouter1) + ":" + std::to_string(port), "PATH=" + path));
  }
  // The user's configuration: "lab" with the agent, "bare" without; the key the user offers and
  // what ssh does with a host key it does not know.
  void writeConfig(const std::string& key, const std::string& strict) {
    std::ofstream config(dir_.file("ssh_config"), std::ios::trunc);
    for (const auto& [alias, port] :
         {std::pair{"lab", 22}, std::pair{"bare", 2222}, std::pair{"other", 2223}}) {
      config << "Host " << alias << "\n  HostName " << kLabRouter1 << "\n  Port " << port
             << "\n  User root\n  IdentityFile " << dir_.file(key) << "\n  IdentitiesOnly yes\n"
             << "  UserKnownHostsFile " << dir_.file("known_hosts") << "\n  StrictHostKeyChecking "
             << strict << "\n";
    }
  }
  void knowHostKey(const std::string& key) {
    std::ofstream known(dir_.file("known_hosts"), std::ios::trunc);
    const std::string line = RunCommand("cut -d' ' -f1,2 " + dir_.file(key + ".pub"));
    known << kLabRouter1 << " " << line << "[" << kLabRouter1 << "]:2222 " << line << "["
          << kLabRouter1 << "]:2223 " << line;
  }
  std::string failureOf(const std::string& destination, const std::string& askpass = {}) {
    std::string failure;
    EXPECT_EQ(ConnectSshHost(*ParseSshDestination(destination), askpass, &failure), nullptr);
    return failure;
  }

  TempDir dir_;
  std::unique_ptr<NetLab> lab_;
  std::unique_ptr<ChildProcess> withAgent_, withoutAgent_;
  std::unique_ptr<FileShownAt> shown_;
  std::unique_ptr<NetnsScope> client_;
};

}  // namespace

// The endpoints, their owners and the capture addresses are the far namespace's: its sshd's
// listener and the ssh session itself, and only its own addresses.
TEST_F(SshHostTest, TheHostIsTheFarNamespace) {
  std::string failure;
  std::unique_ptr<Host> host = ConnectSshHost(*ParseSshDestination("lab"), {}, &failure);
  ASSERT_NE(host, nullptr) << failure;
  const auto snapshot = host->netstat().endpoints(nullptr);
  ASSERT_NE(snapshot, nullptr);
  const uint32_t router = inet_addr(kLabRouter1);
  const auto listener = std::find_if(
      snapshot->records.begin(), snapshot->records.end(), [&](const EndpointRecord& r) {
        return r.protocol == kEndpointTcp && r.localAddress == router && r.localPort == htons(22) &&
               r.remotePort == 0;
      });
  ASSERT_NE(listener, snapshot->records.end());
  EXPECT_STREQ(listener->processName, "sshd");
  EXPECT_TRUE(
      std::any_of(snapshot->records.begin(), snapshot->records.end(), [&](const EndpointRecord& r) {
        return r.localPort == htons(22) && r.remoteAddress == inet_addr("198.18.1.2");
      }));
  const std::vector<IpAddress> addresses = host->capture().captureAddresses();
  EXPECT_NE(std::find(addresses.begin(), addresses.end(), IpAddress::Ipv4(router)),
            addresses.end());
  EXPECT_EQ(std::find(addresses.begin(), addresses.end(), IpAddress::Ipv4(inet_addr("198.18.1.2"))),
            addresses.end());
}

// A capture on the host shows the host's traffic but never the ssh session its own frames travel
// over, which would otherwise grow with every frame it carries.
TEST_F(SshHostTest, ACaptureThereLeavesOutItsOwnSshSession) {
  std::string failure;
  std::unique_ptr<Host> host = ConnectSshHost(*ParseSshDestination("lab"), {}, &failure);
  ASSERT_NE(host, nullptr) << failure;
  int listener = -1;
  {
    NetnsScope router(lab_->name(NetLab::kRouter1));
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(4242);
    at.sin_addr.s_addr = inet_addr(kLabRouter1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(listener, 1), 0);
  }
  CaptureFilter everything;
  everything.includeTcp = 1;  // any port, any address
  RunToken stop;
  CaptureOpening opening =
      host->capture().open(IpAddress::Ipv4(inet_addr(kLabRouter1)), everything, stop);
  ASSERT_NE(opening.session, nullptr) << opening.error;
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(4242);
  to.sin_addr.s_addr = inet_addr(kLabRouter1);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  CaptureBatch batch;
  int ours = 0, session = 0;
  auto packet = std::make_unique<CapturedPacket>();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int sent = 0; ours < 20 && std::chrono::steady_clock::now() < until; ++sent) {
    if (sent < 20) {
      ASSERT_EQ(send(client, "far", 3, 0), 3);
    }
    ASSERT_TRUE(opening.session->read(batch, 256, stop));
    for (const CaptureFrame& frame : batch.frames) {
      if (!DecodeFrame(opening.session->linkType(), frame.bytes, frame.capturedLength,
                       packet.get())) {
        continue;
      }
      ours += packet->destinationPort == htons(4242);
      session += packet->sourcePort == htons(22) || packet->destinationPort == htons(22);
    }
  }
  EXPECT_EQ(ours, 20);
  EXPECT_EQ(session, 0);
  opening.session->close();
  close(client);
  close(listener);
}

// The sshd serving the session killed while a capture runs: the capture ends as a broken socket
// ends it, the loss is told once in ssh's words, and every later call fails at once.
TEST_F(SshHostTest, ASessionKilledMidCaptureEndsTheCaptureAndIsTold) {
  std::string failure;
  std::unique_ptr<Host> host = ConnectSshHost(*ParseSshDestination("lab"), {}, &failure);
  ASSERT_NE(host, nullptr) << failure;
  std::mutex mutex;
  std::vector<std::string> told;
  host->onConnectionLost([&](const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex);
    told.push_back(why);
  });
  CaptureFilter everything;
  everything.includeTcp = 1;
  RunToken stop;
  CaptureOpening opening =
      host->capture().open(IpAddress::Ipv4(inet_addr(kLabRouter1)), everything, stop);
  ASSERT_NE(opening.session, nullptr) << opening.error;
  ASSERT_GT(KillSessionsOf(withAgent_->pid()), 0);
  CaptureBatch batch;
  while (opening.session->read(batch, 256, stop)) {
  }
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return !told.empty();
      },
      10000));
  EXPECT_EQ(host->netstat().endpoints(nullptr), nullptr);
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_TRUE(told[0].starts_with("The connection to lab was lost:\n")) << told[0];
}

TEST_F(SshHostTest, EachFailureIsSaidInTheUsersTerms) {
  EXPECT_EQ(failureOf("bare"),
            "pelorin-agent is not installed on bare: install the package pelorin-agent there");

  writeConfig("stranger", "yes");
  EXPECT_EQ(failureOf("lab"),
            "Cannot connect to lab:\nroot@198.18.1.1: Permission denied "
            "(publickey).");

  writeConfig("id", "yes");
  knowHostKey("otherkey");
  const std::string changed = failureOf("lab");
  EXPECT_TRUE(changed.starts_with("Cannot connect to lab:\n")) << changed;
  EXPECT_NE(changed.find("REMOTE HOST IDENTIFICATION HAS CHANGED!"), std::string::npos) << changed;
  EXPECT_TRUE(changed.ends_with("\nHost key verification failed.")) << changed;

  // An unknown host key is asked about through the askpass program, which answers No.
  std::ofstream(dir_.file("known_hosts"), std::ios::trunc);
  writeConfig("id", "ask");
  std::ofstream(dir_.file("no")) << "#!/bin/sh\nprintf '%s' \"$1\" > " << dir_.file("asked")
                                 << "\necho no\n";
  chmod(dir_.file("no").c_str(), 0755);
  EXPECT_EQ(failureOf("lab", dir_.file("no")),
            "Cannot connect to lab:\nHost key verification failed.");
  const std::string asked = RunCommand("cat " + dir_.file("asked"));
  EXPECT_NE(asked.find("Are you sure you want to continue connecting (yes/no"), std::string::npos)
      << asked;

  // An agent of another version says hello: refused, named as it names itself.
  knowHostKey("hostkey");
  writeConfig("id", "yes");
  Hello newer;
  newer.protocol = kFrameVersion + 1;
  newer.program = "pelorin-agent 9.0.0.0";
  newer.abilities = kAbilityServices;
  const std::vector<uint8_t> hello = EncodeHello(newer);
  const std::vector<uint8_t> frame = EncodeFrame(kFrameHello, 0, hello.data(), hello.size());
  mkdir(dir_.file("newer").c_str(), 0755);
  std::ofstream(dir_.file("newer/hello"), std::ios::binary)
      .write(reinterpret_cast<const char*>(frame.data()), std::streamsize(frame.size()));
  std::ofstream(dir_.file("newer/pelorin-agent"))
      << "#!/bin/sh\ncat " << dir_.file("newer/hello") << "\nexec cat >/dev/null\n";
  chmod(dir_.file("newer/pelorin-agent").c_str(), 0755);
  const std::unique_ptr<ChildProcess> newerSshd =
      startSshd(2223, dir_.file("newer") + ":/usr/bin:/bin");
  ASSERT_TRUE(WaitUntil(
      [&] { return RunCommand("ssh -T other true 2>/dev/null && echo ok") == "ok\n"; }, 10000));
  EXPECT_EQ(failureOf("other"), "the agent speaks another version: pelorin-agent 9.0.0.0");

  // A host the lab has no route to: ssh's own words, at once.
  EXPECT_EQ(failureOf("root@198.18.96.1"),
            "Cannot connect to root@198.18.96.1:\nssh: connect to host 198.18.96.1 port 22: No "
            "route to host");
}
