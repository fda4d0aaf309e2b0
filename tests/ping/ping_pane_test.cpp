// The Ping / Trace pane in the real main window, driven by control id. Runs that need the
// network go through the namespace lab with the test's UI thread in the client namespace, so
// the pane's workers, which that thread starts, are born there.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>

#include "host/local_echo.h"
#include "net_lab.h"
#include "ping/echo.h"
#include "ping/ping_pane.h"
#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/output.h"
#include "shell/ui_thread.h"
#include "test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

class PingPaneTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUiShuttingDown(false); }
  void TearDown() override {
    if (window_) pane_->closeModule();
    window_.reset();
    client_.reset();  // leave the namespace before it goes
    lab_.reset();
    SetUiShuttingDown(false);
  }

  // The window; a box about the service (a run without root) is not the tests' business.
  void openWindow() {
    window_ = std::make_unique<MainWindow>();
    pane_ = dynamic_cast<PingPane*>(window_->pane(kPingButton));
    ASSERT_NE(pane_, nullptr);
    // The service is loaded off the UI thread; its box, if any, comes with the answer.
    ASSERT_TRUE(WaitUntil([this] { return !pane_->loadingEchoService(); }, 15000));
    presenter_.clear();
  }
  // The lab and the window, with this thread in the client namespace. Fails the test when the
  // lab cannot be built; skips it without root.
  bool openLab() {
    if (!IsRoot()) return false;
    lab_ = std::make_unique<NetLab>();
    EXPECT_TRUE(lab_->ok()) << lab_->error();
    if (!lab_->ok()) return false;
    client_ = std::make_unique<NetnsScope>(lab_->name(NetLab::kClient));
    EXPECT_TRUE(client_->entered());
    // Through the agent, the host is an agent born in the client namespace, with its own helper
    // there.
    if (client_->entered() && ThroughAgent()) {
      EXPECT_TRUE(UseBuiltAgent());
    }
    openWindow();
    return client_->entered() && pane_ != nullptr;
  }

  QComboBox* hostBox() const { return FindControl<QComboBox>(pane_, kPingHostBox); }
  QRadioButton* radio(int id) const { return FindControl<QRadioButton>(pane_, id); }
  std::string button() const { return ReadControlText(pane_, 1); }
  std::string output() const { return GetOutputText(pane_, kOutputPaneId); }

  void start(const std::string& host, bool trace) {
    SetControlText(pane_, kPingHostBox, QString::fromStdString(host));
    radio(trace ? kTraceRadio : kPingRadio)->setChecked(true);
    ClickControl(pane_, 1);
  }
  // Starts a run and waits for its end; false if it did not end in time.
  bool run(const std::string& host, bool trace, int timeoutMs = 10000) {
    start(host, trace);
    return WaitUntil([this] { return !pane_->isRunning(); }, timeoutMs);
  }

  RecordingPresenter presenter_;
  std::unique_ptr<NetLab> lab_;
  std::unique_ptr<NetnsScope> client_;
  std::unique_ptr<MainWindow> window_;
  PingPane* pane_ = nullptr;
};

#define REQUIRE_LAB()                                                           \
  do {                                                                          \
    if (!IsRoot()) GTEST_SKIP() << "network namespaces and raw ICMP need root"; \
    ASSERT_TRUE(openLab());                                                     \
  } while (0)

// The beginning every run to an address prints.
std::string Preamble(const std::string& host, const std::string& dotted) {
  return "\r\nResolving Host: " + host + "...\r\n\t[" + dotted + "]\r\n\r\n";
}

const std::string kTraceHeader =
    "Begining Trace...\r\n\r\n"
    "TTL  Host             Ms     Status\r\n"
    "-----------------------------------\r\n";

// The text as a regular expression that matches only itself.
std::string Literal(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([.\[\]])"), R"(\$&)");
}

// A ping's whole output with any round-trip time.
std::regex PingAnswered(const std::string& host, const std::string& dotted) {
  return std::regex(Literal(Preamble(host, dotted) + "Pinging Host...") + "\r\n\r\n\t\\d+ms");
}

// A hop line with any round-trip time in its five columns.
std::string HopPattern(int ttl, const std::string& address, const std::string& status) {
  char ttlColumn[8];
  std::snprintf(ttlColumn, sizeof ttlColumn, "%-3d", ttl);
  std::string addressColumn = address;
  addressColumn.resize(15, ' ');
  return std::string(ttlColumn) + "  " + Literal(addressColumn) + "  (?:-1   |\\d[\\d ]{4})  " +
         status + "\r\n";
}

void ExpectTrace(const std::string& text, const std::string& hops) {
  const std::string head = Preamble(kLabTarget, kLabTarget) + kTraceHeader;
  ASSERT_TRUE(text.starts_with(head)) << text;
  EXPECT_TRUE(std::regex_match(text.substr(head.size()), std::regex(hops + "\r\nTrace Complete")))
      << text;
}

// A trace's whole output to the host as typed, resolved to `address`.
void ExpectTraceTo(const std::string& host, const std::string& address, const std::string& text,
                   const std::string& hops) {
  const std::string head = Preamble(host, address) + kTraceHeader;
  ASSERT_TRUE(text.starts_with(head)) << text;
  EXPECT_TRUE(std::regex_match(text.substr(head.size()), std::regex(hops + "\r\nTrace Complete")))
      << text;
}

}  // namespace

TEST_F(PingPaneTest, StartsIdleWithPingChecked) {
  openWindow();
  EXPECT_EQ(button(), "Start");
  EXPECT_EQ(hostBox()->currentText(), "");
  EXPECT_TRUE(radio(kPingRadio)->isChecked());
  radio(kTraceRadio)->click();  // one group: exactly one is checked
  EXPECT_FALSE(radio(kPingRadio)->isChecked());
}

TEST_F(PingPaneTest, EmptyHostShowsAnErrorAndPrintsNothing) {
  openWindow();
  AppendOutput(pane_, kOutputPaneId, std::string_view("kept"));
  ASSERT_TRUE(run("", false));
  EXPECT_EQ(presenter_.texts(), std::vector<std::string>{"No Host Specified!"});
  EXPECT_EQ(presenter_.boxes()[0].caption, "Pelorin Error!");
  EXPECT_EQ(presenter_.boxes()[0].owner, pane_);
  EXPECT_EQ(output(), "kept");
  EXPECT_EQ(button(), "Start");
  EXPECT_EQ(hostBox()->count(), 0);
}

// Clicks Stop just before the worker's second call to the UI thread is carried out.
class StopBeforeSecondCall : public QObject {
 public:
  explicit StopBeforeSecondCall(QWidget* pane) : pane_(pane) { qApp->installEventFilter(this); }
  ~StopBeforeSecondCall() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // The workers' calls are queued calls to an object that is not a widget.
    if (event->type() == QEvent::MetaCall && !watched->isWidgetType() && ++calls_ == 2) {
      ClickControl(pane_, 1);
    }
    return false;
  }

 private:
  QWidget* pane_;
  int calls_ = 0;
};

TEST_F(PingPaneTest, AStopBeforeTheEmptyHostBoxLeavesNoBox) {
  openWindow();
  {
    StopBeforeSecondCall stopper(pane_);
    ClickControl(pane_, 1);  // the first call reads the empty host, the second shows the box
    ASSERT_TRUE(WaitUntil([this] { return !pane_->isRunning(); }));
    ServeEvents(100);
  }
  EXPECT_EQ(output(), "\tOperation Aborted");
  EXPECT_TRUE(presenter_.texts().empty());
  EXPECT_EQ(button(), "Start");
}

TEST_F(PingPaneTest, NameThatCannotResolveEndsTheRun) {
  openWindow();
  const std::string host(200, 'a');  // too long to be looked up: refused without a query
  ASSERT_TRUE(run(host, false));
  EXPECT_EQ(output(), "\r\nResolving Host: " + host + "...\r\n\tFailed To Resolve Hostname");
  EXPECT_EQ(button(), "Start");
  EXPECT_TRUE(presenter_.texts().empty());
}

TEST_F(PingPaneTest, PingOfAnAddressPrintsItsTimeAndKeepsTheHostOnce) {
  REQUIRE_LAB();
  EXPECT_TRUE(presenter_.texts().empty());  // the service loaded
  ASSERT_TRUE(run(kLabTarget, false));
  EXPECT_TRUE(std::regex_match(output(), PingAnswered(kLabTarget, kLabTarget))) << output();
  EXPECT_EQ(button(), "Start");
  ASSERT_TRUE(run(kLabTarget, false));  // the output starts afresh
  EXPECT_TRUE(std::regex_match(output(), PingAnswered(kLabTarget, kLabTarget))) << output();
  EXPECT_EQ(hostBox()->count(), 1);
  EXPECT_EQ(hostBox()->itemText(0), kLabTarget);
}

TEST_F(PingPaneTest, PingOfANameShowsItsAddress) {
  REQUIRE_LAB();
  ASSERT_TRUE(run("localhost", false));
  EXPECT_TRUE(std::regex_match(output(), PingAnswered("localhost", "127.0.0.1"))) << output();
  ASSERT_TRUE(run("LOCALHOST", false));  // the history ignores case
  EXPECT_EQ(hostBox()->count(), 1);
}

TEST_F(PingPaneTest, PingWithoutReplyFailsAfterItsTimeOut) {
  REQUIRE_LAB();
  const Clock::time_point begun = Clock::now();
  ASSERT_TRUE(run(kLabSilent, false));
  const auto waited = Clock::now() - begun;
  EXPECT_EQ(output(), Preamble(kLabSilent, kLabSilent) + "Pinging Host...\r\n\r\nPing Failed!");
  EXPECT_GE(waited, std::chrono::milliseconds(2990));
}

TEST_F(PingPaneTest, TraceListsEveryRouterThenTheTarget) {
  REQUIRE_LAB();
  ASSERT_TRUE(run(kLabTarget, true));
  ExpectTrace(output(), HopPattern(1, kLabRouter1, "TTL_EXPIRED_TRANSIT") +
                            HopPattern(2, kLabRouter2, "TTL_EXPIRED_TRANSIT") +
                            HopPattern(3, kLabRouter3, "TTL_EXPIRED_TRANSIT") +
                            HopPattern(4, kLabTarget, "SUCCESS"));
}

TEST_F(PingPaneTest, TraceGoesOnPastASilentFirstRouter) {
  REQUIRE_LAB();
  ASSERT_TRUE(lab_->silenceRouter(1)) << lab_->error();
  ASSERT_TRUE(run(kLabTarget, true));
  ExpectTrace(output(), HopPattern(1, "0.0.0.0", "REQ_TIMED_OUT") +
                            HopPattern(2, kLabRouter2, "TTL_EXPIRED_TRANSIT") +
                            HopPattern(3, kLabRouter3, "TTL_EXPIRED_TRANSIT") +
                            HopPattern(4, kLabTarget, "SUCCESS"));
  EXPECT_NE(output().find("\r\n1    0.0.0.0          -1     REQ_TIMED_OUT\r\n"), std::string::npos);
}

TEST_F(PingPaneTest, TraceEndsAtASilentSecondRouter) {
  REQUIRE_LAB();
  ASSERT_TRUE(lab_->silenceRouter(2)) << lab_->error();
  ASSERT_TRUE(run(kLabTarget, true));
  ExpectTrace(output(), HopPattern(1, kLabRouter1, "TTL_EXPIRED_TRANSIT") +
                            HopPattern(2, "0.0.0.0", "REQ_TIMED_OUT"));
}

TEST_F(PingPaneTest, TraceEndsAtAnUnreachableReport) {
  REQUIRE_LAB();
  ASSERT_TRUE(run(kLabNetUnreachable, true));
  const std::string head = Preamble(kLabNetUnreachable, kLabNetUnreachable) + kTraceHeader;
  ASSERT_TRUE(output().starts_with(head)) << output();
  EXPECT_TRUE(std::regex_match(
      output().substr(head.size()),
      std::regex(HopPattern(1, kLabRouter1, "TTL_EXPIRED_TRANSIT") +
                 HopPattern(2, kLabRouter2, "TTL_EXPIRED_TRANSIT") +
                 HopPattern(3, kLabRouter3, "DEST_NET_UNREACHABLE") + "\r\nTrace Complete")))
      << output();
}

// Over IPv6 through the helper's raw ICMPv6 socket: an address as typed is shown in its
// shortest form.
TEST_F(PingPaneTest, Ipv6PingAndTraceReachEveryRouterThenTheTarget) {
  REQUIRE_LAB();
  ASSERT_TRUE(run(kLab6Target, false));
  EXPECT_TRUE(std::regex_match(output(), PingAnswered(kLab6Target, kLab6Target))) << output();
  ASSERT_TRUE(run("2001:2:0:4:0:0:0:2", true));
  ExpectTraceTo("2001:2:0:4:0:0:0:2", kLab6Target, output(),
                HopPattern(1, kLab6Router1, "TTL_EXPIRED_TRANSIT") +
                    HopPattern(2, kLab6Router2, "TTL_EXPIRED_TRANSIT") +
                    HopPattern(3, kLab6Router3, "TTL_EXPIRED_TRANSIT") +
                    HopPattern(4, kLab6Target, "SUCCESS"));
}

// A name with only an IPv6 address is pinged over IPv6; one with both at its IPv4 address.
TEST_F(PingPaneTest, ANameWithOnlyAnIpv6AddressIsPingedOverIpv6) {
  REQUIRE_LAB();
  const HostsFileShown hosts(std::string(kLab6Target) + " lab6-target\n" + kLab6Target +
                             " lab-target\n" + kLabTarget + " lab-target\n");
  ASSERT_TRUE(hosts.shown());
  ASSERT_TRUE(run("lab6-target", false));
  EXPECT_TRUE(std::regex_match(output(), PingAnswered("lab6-target", kLab6Target))) << output();
  ASSERT_TRUE(run("lab-target", false));
  EXPECT_TRUE(std::regex_match(output(), PingAnswered("lab-target", kLabTarget))) << output();
}

TEST_F(PingPaneTest, Ipv6TraceGoesOnPastASilentFirstRouter) {
  REQUIRE_LAB();
  ASSERT_TRUE(lab_->silenceRouter(1)) << lab_->error();
  ASSERT_TRUE(run(kLab6Target, true));
  ExpectTraceTo(kLab6Target, kLab6Target, output(),
                HopPattern(1, "::", "REQ_TIMED_OUT") +
                    HopPattern(2, kLab6Router2, "TTL_EXPIRED_TRANSIT") +
                    HopPattern(3, kLab6Router3, "TTL_EXPIRED_TRANSIT") +
                    HopPattern(4, kLab6Target, "SUCCESS"));
  EXPECT_NE(output().find("\r\n1    ::               -1     REQ_TIMED_OUT\r\n"), std::string::npos);
}

TEST_F(PingPaneTest, Ipv6TraceEndsAtAnUnreachableReport) {
  REQUIRE_LAB();
  ASSERT_TRUE(run(kLab6NetUnreachable, true));
  ExpectTraceTo(kLab6NetUnreachable, kLab6NetUnreachable, output(),
                HopPattern(1, kLab6Router1, "TTL_EXPIRED_TRANSIT") +
                    HopPattern(2, kLab6Router2, "TTL_EXPIRED_TRANSIT") +
                    HopPattern(3, kLab6Router3, "DEST_NET_UNREACHABLE"));
}

TEST_F(PingPaneTest, StopAbortsAtOnceAndNothingFollows) {
  REQUIRE_LAB();
  start(kLabSilent, true);  // TTL 3 waits in vain at r3's blackhole
  ASSERT_TRUE(WaitUntil([this] { return output().find("\r\n2    ") != std::string::npos; }));
  ASSERT_EQ(button(), "Stop");
  ClickControl(pane_, 1);
  EXPECT_EQ(button(), "Start");
  EXPECT_FALSE(pane_->isRunning());
  const std::string stopped = output();
  EXPECT_TRUE(stopped.ends_with("TTL_EXPIRED_TRANSIT\r\n\tOperation Aborted")) << stopped;
  ServeEvents(300);
  EXPECT_EQ(output(), stopped);
  // A new run starts at once.
  ASSERT_TRUE(run(kLabTarget, false));
  EXPECT_TRUE(output().ends_with("ms")) << output();
}

TEST_F(PingPaneTest, SendToEndsTheRunSelectsPingAndStartsNothing) {
  REQUIRE_LAB();
  start(kLabSilent, true);
  ASSERT_TRUE(WaitUntil([this] { return output().find("\r\n2    ") != std::string::npos; }));
  const std::string before = output();
  PingSendTo("198.18.4.2");
  EXPECT_EQ(window_->currentPane(), pane_);
  EXPECT_EQ(hostBox()->currentText(), "198.18.4.2");
  EXPECT_TRUE(radio(kPingRadio)->isChecked());
  EXPECT_FALSE(radio(kTraceRadio)->isChecked());
  EXPECT_EQ(button(), "Start");
  EXPECT_FALSE(pane_->isRunning());
  ServeEvents(300);
  EXPECT_EQ(output(), before);  // nothing printed, not even "Operation Aborted"
}

TEST_F(PingPaneTest, CloseEndsTheRunWithoutPrinting) {
  REQUIRE_LAB();
  start(kLabSilent, false);
  ASSERT_TRUE(WaitUntil([this] { return output().ends_with("Pinging Host..."); }));
  pane_->closeModule();
  EXPECT_EQ(button(), "Start");
  EXPECT_FALSE(pane_->isRunning());
  ServeEvents(300);
  EXPECT_TRUE(output().ends_with("Pinging Host...")) << output();
}

TEST_F(PingPaneTest, WithoutTheHelperTheServiceFailsToLoadAndEchoesFail) {
  if (ThroughAgent()) GTEST_SKIP() << "the agent's helper is its host's, beside it";
  REQUIRE_LAB();
  window_.reset();
  presenter_.clear();
  {
    WithoutHelper unprivileged;  // and ping_group_range in the client namespace is "1 0"
    window_ = std::make_unique<MainWindow>();
    pane_ = dynamic_cast<PingPane*>(window_->pane(kPingButton));
    ASSERT_NE(pane_, nullptr);
    ASSERT_TRUE(WaitUntil([this] { return !pane_->loadingEchoService(); }, 15000));
  }
  ASSERT_EQ(presenter_.texts(), std::vector<std::string>{"Failed To Load Ping Library!"});
  EXPECT_EQ(presenter_.boxes()[0].caption, "Pelorin Error!");
  EXPECT_EQ(presenter_.boxes()[0].owner, window_.get());
  EXPECT_EQ(LoadedEchoSocketKind(), EchoSocketKind::None);

  ASSERT_TRUE(run(kLabTarget, false, 1000));
  EXPECT_EQ(output(), Preamble(kLabTarget, kLabTarget) + "Pinging Host...\r\n\r\nPing Failed!");
  ASSERT_TRUE(run(kLabTarget, true, 1000));
  ExpectTrace(output(), HopPattern(1, "0.0.0.0", "GENERAL_FAILURE") +
                            HopPattern(2, "0.0.0.0", "GENERAL_FAILURE"));
  window_.reset();
  LoadEchoService();  // as it was for the other tests
}

// Through an agent that stops answering (held with SIGSTOP): the pane is made while the agent
// has not said whether it can send echoes, and Stop and the close operation act at once on a
// run that waits for it. Once the agent goes on, the answer comes and no run prints.
TEST_F(PingPaneTest, AStalledAgentNeverHoldsTheWindow) {
  if (!ThroughAgent()) GTEST_SKIP() << "the window's host is this computer";
  if (!IsRoot()) GTEST_SKIP() << "the agent's helper needs root here";
  ASSERT_TRUE(UseBuiltAgent());
  const pid_t agent = ChildStartedFrom(PELORIN_AGENT_PATH);
  ASSERT_GT(agent, 0);
  ASSERT_EQ(kill(agent, SIGSTOP), 0);
  window_ = std::make_unique<MainWindow>();
  pane_ = dynamic_cast<PingPane*>(window_->pane(kPingButton));
  ASSERT_NE(pane_, nullptr);
  ServeEvents(100);
  EXPECT_TRUE(pane_->loadingEchoService());
  const std::string preamble = Preamble("198.18.4.2", "198.18.4.2");
  start("198.18.4.2", false);
  ASSERT_TRUE(WaitUntil([&] { return output() == preamble + "Pinging Host..."; }));
  ClickControl(pane_, 1);
  EXPECT_EQ(button(), "Start");
  EXPECT_FALSE(pane_->isRunning());
  EXPECT_EQ(output(), preamble + "Pinging Host...\tOperation Aborted");
  start("198.18.4.2", true);
  ASSERT_TRUE(WaitUntil([&] { return output() == preamble + kTraceHeader; }));
  pane_->closeModule();
  EXPECT_EQ(button(), "Start");
  EXPECT_FALSE(pane_->isRunning());
  ASSERT_EQ(kill(agent, SIGCONT), 0);
  EXPECT_TRUE(WaitUntil([this] { return !pane_->loadingEchoService(); }, 15000));
  ServeEvents(200);
  EXPECT_TRUE(presenter_.texts().empty());
  EXPECT_EQ(output(), preamble + kTraceHeader);
}
