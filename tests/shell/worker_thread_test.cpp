// A worker thread the system will not give: every module shows the failure and stays idle.
// The test runs itself again as a user of its own that may have no second thread.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "capture/capture_pane.h"
#include "dns/dns_pane.h"
#include "netstat/netstat_pane.h"
#include "ping/ping_pane.h"
#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/module_table.h"
#include "shell/ui_thread.h"
#include "sockets/tcp_socket_pane.h"
#include "sockets/udp_socket_pane.h"
#include "test_util.h"

namespace {

constexpr const char* kChildMark = "PELORIN_WITHOUT_THREADS";

// In the child: starts each module's run and looks at what is left.
void StartEveryModule() {
  SetUiShuttingDown(false);
  const std::string failure = "Failed To Create Worker Thread:  Code: 11";  // EAGAIN
  RecordingPresenter boxes;
  MainWindow window;  // Netstat gathers its first table at once
  const std::vector<std::string> first = boxes.texts();
  EXPECT_EQ(std::count(first.begin(), first.end(), failure), 1);
  boxes.clear();  // the ping module's box about a missing privilege is not this test's business
  const struct {
    int module;
    int command;
  } starts[] = {{kNetstatButton, kNetstatRefreshId},
                {kPingButton, 1},
                {kDnsButton, 1},
                {kWhoisButton, 1},
                {kCaptureButton, kCaptureStartId},
                {kTcpButton, kTcpConnectId},
                {kUdpButton, kUdpStartId}};
  for (const auto& s : starts) ClickControl(window.pane(s.module), s.command);
  EXPECT_TRUE(WaitUntil([&] { return boxes.count() >= std::size(starts); }));

  ASSERT_EQ(boxes.texts(), std::vector<std::string>(std::size(starts), failure));
  for (size_t i = 0; i < std::size(starts); ++i) {
    EXPECT_EQ(boxes.boxes()[i].owner, window.pane(starts[i].module));
  }
  EXPECT_FALSE(dynamic_cast<PingPane*>(window.pane(kPingButton))->isRunning());
  EXPECT_FALSE(dynamic_cast<DnsPane*>(window.pane(kDnsButton))->running());
  EXPECT_FALSE(dynamic_cast<TcpSocketPane*>(window.pane(kTcpButton))->running());
  EXPECT_FALSE(dynamic_cast<UdpSocketPane*>(window.pane(kUdpButton))->running());
  EXPECT_FALSE(dynamic_cast<CapturePane*>(window.pane(kCaptureButton))->running());
  for (int module : {kPingButton, kDnsButton, kWhoisButton}) {
    EXPECT_EQ(ReadControlText(window.pane(module), 1), "Start") << module;
  }
  EXPECT_TRUE(FindControlWidget(window.pane(kTcpButton), kTcpConnectId)->isEnabled());
  EXPECT_TRUE(FindControlWidget(window.pane(kUdpButton), kUdpStartId)->isEnabled());
}

}  // namespace

TEST(WorkerThreads, AModuleWhoseThreadCannotStartShowsItAndStaysIdle) {
  if (std::getenv(kChildMark) != nullptr) {
    StartEveryModule();
    return;
  }
  if (!IsRoot()) GTEST_SKIP() << "running as a user of its own needs root";
  // A user id of this run alone, limited to the one process it runs in: no thread can start.
  // (The limit does not bind root.) Leak checking is off: it needs a thread of its own. The
  // build tree may be closed to that user: it runs a copy of this program from a folder it can
  // read.
  const std::string user = std::to_string(3000000000u + unsigned(getpid()));
  TempDir dir;
  const std::string self = dir.file("worker_thread_test");
  RunCommand("cp /proc/" + std::to_string(getpid()) + "/exe " + self);
  chmod(dir.path().c_str(), 0755);
  int status = -1;
  const std::string output = RunCommand(
      "timeout 60 prlimit --nproc=1:1 setpriv --reuid=" + user + " --regid=" + user +
          " --clear-groups env -u XDG_RUNTIME_DIR " + kChildMark +
          "=1 ASAN_OPTIONS=detect_leaks=0 " + self + " --gtest_filter=WorkerThreads.* 2>&1",
      &status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("[       OK ] WorkerThreads."), std::string::npos) << output;
}
