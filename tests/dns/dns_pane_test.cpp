#include <gtest/gtest.h>
#include <signal.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <fstream>
#include <memory>
#include <sstream>

#include "dns/dns_pane.h"
#include "dns/dns_service.h"
#include "host/host.h"
#include "host/local_services.h"
#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/output.h"
#include "shell/ui_thread.h"
#include "test_dns_server.h"
#include "test_util.h"

namespace {

// Addresses of this test: the real server, and one that never answers when a test makes it so.
constexpr const char* kServerAddress = "127.0.53.2";
constexpr const char* kSilentAddress = "127.0.53.5";

// On [::1] too: the server the IPv6 tests choose.
TestDnsServer* const* const g_shared = ShareDnsServer(kServerAddress, true);
TestDnsServer* Server() {
  return *g_shared;
}
#define REQUIRE_SERVER() REQUIRE_DNS_SERVER(Server())

// The two sections every answer from the test zone carries.
const std::string kNsAuthority =
    "[Authorititive Answers Can Be Found At]\r\nNS:\tns1.dns.test\r\nNS:\tns2.dns.test\r\n\r\n";
const std::string kGlue = "[Additional Records]\r\nA:\t198.51.100.53\r\nA:\t198.51.100.54\r\n\r\n";
const std::string kZoneSoa =
    "SOA:\tmname:ns1.dns.test\r\n\tpname:hostmaster.dns.test\r\n\tserial:-1294967296\r\n"
    "\trefresh:7200\r\n\tretry:900\r\n\texpire:1209600\r\n\tminimum:300\r\n";

class DnsPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUiShuttingDown(false);
    // The default server is a documentation address no query is ever sent to.
    std::ofstream(dir_.file("resolv.conf")) << "search dns.test\nnameserver 203.0.113.53\n";
    if (ThroughAgent()) {
      // The agent reads its host's configuration: the test's own is shown there.
      if (!IsRoot()) GTEST_SKIP() << "showing the agent a resolver configuration needs root";
      shown_ = std::make_unique<FileShownAt>(dir_.file("resolv.conf"), kResolverConfigPath);
      ASSERT_TRUE(shown_->shown());
      pane_ = std::make_unique<DnsPane>(&main_, WindowHost().dns());
    } else {
      service_ = NewLocalDnsService(dir_.file("resolv.conf"));
      pane_ = std::make_unique<DnsPane>(&main_, *service_);
    }
    waitForDefault();
  }
  // No resolver configuration at all (shown through the agent: one that names nothing).
  void removeConfig() {
    if (shown_) {
      std::ofstream(dir_.file("resolv.conf"), std::ios::trunc);
    } else {
      std::remove(dir_.file("resolv.conf").c_str());
    }
  }
  // The server text comes off the UI thread.
  void waitForDefault() {
    EXPECT_TRUE(WaitUntil([&] { return !pane_->gettingDefault(); }));
  }
  void getDefault() {
    ClickControl(pane_.get(), kDnsGetDefaultId);
    waitForDefault();
  }
  void TearDown() override { pane_.reset(); }

  QComboBox* combo(int id) const { return FindControl<QComboBox>(pane_.get(), id); }
  QPushButton* button(int id) const { return FindControl<QPushButton>(pane_.get(), id); }
  std::string output() const { return GetOutputText(pane_.get(), kOutputPaneId); }
  std::string buttonText() const { return button(kDnsStartId)->text().toStdString(); }
  std::vector<std::string> items(int id) const {
    std::vector<std::string> out;
    for (int i = 0; i < combo(id)->count(); ++i)
      out.push_back(combo(id)->itemText(i).toStdString());
    return out;
  }

  void setUp(int mode, const std::string& server, const std::string& host) {
    combo(kDnsQueryTypeId)->setCurrentIndex(mode);
    combo(kDnsServerId)->setEditText(QString::fromStdString(server));
    combo(kDnsHostId)->setEditText(QString::fromStdString(host));
  }
  // Starts a lookup and waits for its end; the output it left.
  std::string run(int mode, const std::string& server, const std::string& host) {
    setUp(mode, server, host);
    ClickControl(pane_.get(), kDnsStartId);
    EXPECT_EQ(buttonText(), "Stop");
    EXPECT_TRUE(WaitUntil([&] { return !pane_->running(); }, 5000));
    EXPECT_EQ(buttonText(), "Start");
    return output();
  }
  std::string query(int mode, const std::string& host) { return run(mode, kServerAddress, host); }

  TempDir dir_;
  QWidget main_;
  std::unique_ptr<DnsService> service_;
  std::unique_ptr<FileShownAt> shown_;
  std::unique_ptr<DnsPane> pane_;
};

}  // namespace

TEST_F(DnsPaneTest, StartsInNormalResolveWithTheServerBoxOff) {
  ASSERT_EQ(combo(kDnsQueryTypeId)->count(), 9);
  EXPECT_EQ(items(kDnsQueryTypeId),
            (std::vector<std::string>{"Normal Resolve", "A", "NS", "CNAME", "SOA", "PTR", "HINFO",
                                      "MX", "AAAA"}));
  EXPECT_FALSE(combo(kDnsQueryTypeId)->isEditable());
  EXPECT_EQ(combo(kDnsQueryTypeId)->currentIndex(), 0);
  EXPECT_EQ(combo(kDnsServerId)->currentText(), "203.0.113.53");
  EXPECT_EQ(combo(kDnsHostId)->currentText(), "");
  EXPECT_EQ(buttonText(), "Start");
  auto* out = FindControl<QPlainTextEdit>(pane_.get(), kOutputPaneId);
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(out->isReadOnly());

  const auto serverEnabled = [&] {
    return combo(kDnsServerId)->isEnabled() && button(kDnsGetDefaultId)->isEnabled();
  };
  const auto serverDisabled = [&] {
    return !combo(kDnsServerId)->isEnabled() && !button(kDnsGetDefaultId)->isEnabled();
  };
  EXPECT_TRUE(serverDisabled());
  combo(kDnsQueryTypeId)->setCurrentIndex(7);  // MX
  EXPECT_TRUE(serverEnabled());
  combo(kDnsQueryTypeId)->setCurrentIndex(0);
  EXPECT_TRUE(serverDisabled());
}

TEST_F(DnsPaneTest, GetDefaultReadsTheResolverConfigurationAgain) {
  combo(kDnsQueryTypeId)->setCurrentIndex(1);
  combo(kDnsServerId)->setEditText("192.0.2.99");
  std::ofstream(dir_.file("resolv.conf")) << "nameserver 198.51.100.1\n";
  getDefault();
  EXPECT_EQ(combo(kDnsServerId)->currentText(), "198.51.100.1");
  removeConfig();
  getDefault();
  EXPECT_EQ(combo(kDnsServerId)->currentText(), "0.0.0.0");
  EXPECT_EQ(combo(kDnsServerId)->count(), 0);  // only lookups add to the history
}

TEST_F(DnsPaneTest, PrintsEveryRecordTypeBySection) {
  REQUIRE_SERVER();
  EXPECT_EQ(query(1, "www.dns.test"),
            "[DNS QUERY: www.dns.test]\r\n\r\n"
            "[Authorititive Answers]\r\nA:\t198.51.100.10\r\nA:\t198.51.100.11\r\n\r\n" +
                kNsAuthority + kGlue);
  EXPECT_EQ(query(2, "dns.test"),
            "[DNS QUERY: dns.test]\r\n\r\n"
            "[Authorititive Answers]\r\nNS:\tns1.dns.test\r\nNS:\tns2.dns.test\r\n\r\n"
            "[Authorititive Answers Can Be Found At]\r\n\r\n" +
                kGlue);
  EXPECT_EQ(query(3, "alias.dns.test"),
            "[DNS QUERY: alias.dns.test]\r\n\r\n"
            "[Authorititive Answers]\r\nCNAME:\twww.dns.test\r\n\r\n" +
                kNsAuthority + kGlue);
  EXPECT_EQ(query(4, "dns.test"), "[DNS QUERY: dns.test]\r\n\r\n[Authorititive Answers]\r\n" +
                                      kZoneSoa + "\r\n" + kNsAuthority + kGlue);
  EXPECT_EQ(query(5, "10.100.51.198.in-addr.arpa"),
            "[DNS QUERY: 10.100.51.198.in-addr.arpa]\r\n\r\n"
            "[Authorititive Answers]\r\nPTR:\twww.dns.test\r\n\r\n"
            "[Authorititive Answers Can Be Found At]\r\nNS:\tns1.dns.test\r\n\r\n"
            "[Additional Records]\r\n\r\n");
  EXPECT_EQ(query(6, "box.dns.test"),
            "[DNS QUERY: box.dns.test]\r\n\r\n"
            "[Authorititive Answers]\r\nHINFO:\t(cpu)x86_64\r\n\t(os)Linux 6.1\r\n\r\n" +
                kNsAuthority + kGlue);
  EXPECT_EQ(query(7, "dns.test"),
            "[DNS QUERY: dns.test]\r\n\r\n"
            "[Authorititive Answers]\r\nMX:\t10   mail.dns.test\r\nMX:\t20   backup.dns.test\r\n"
            "\r\n" +
                kNsAuthority +
                "[Additional Records]\r\nA:\t203.0.113.25\r\nA:\t203.0.113.26\r\n"
                "A:\t198.51.100.53\r\nA:\t198.51.100.54\r\n\r\n");
}

// Names and strings show UTF-8 label by label where valid, else Latin-1, and their control
// characters (and backslashes) escaped: a reply cannot forge a line of its own.
TEST_F(DnsPaneTest, NamesAndStringsCannotForgeLines) {
  REQUIRE_SERVER();
  EXPECT_EQ(query(3, "forged.dns.test"),
            "[DNS QUERY: forged.dns.test]\r\n\r\n[Authorititive Answers]\r\n"
            "CNAME:\tline\\013\\010[additional records].caf\xC3\xA9.caf\xC3\xA9.dns.test\r\n\r\n" +
                kNsAuthority + kGlue);
  EXPECT_EQ(query(6, "odd.dns.test"),
            "[DNS QUERY: odd.dns.test]\r\n\r\n"
            "[Authorititive Answers]\r\nHINFO:\t(cpu)caf\xC3\xA9\\000\r\n\t(os)x\\\\y\r\n\r\n" +
                kNsAuthority + kGlue);
}

TEST_F(DnsPaneTest, PrintsTheCodeOfAFailedNameAndATruncatedReply) {
  REQUIRE_SERVER();
  EXPECT_EQ(query(1, "nope.dns.test"),
            "[DNS QUERY: nope.dns.test]\r\n\r\n\tFailed Code: 3\r\n\r\n"
            "[Authorititive Answers]\r\n\r\n[Authorititive Answers Can Be Found At]\r\n" +
                kZoneSoa + "\r\n[Additional Records]\r\n\r\n");
  // Sixty addresses do not fit in a reply over UDP: the server sends it truncated and empty.
  EXPECT_EQ(query(1, "many.dns.test"),
            "[DNS QUERY: many.dns.test]\r\n\r\n[Authorititive Answers]\r\n\r\n"
            "[Authorititive Answers Can Be Found At]\r\n\r\n[Additional Records]\r\n\r\n");
}

TEST_F(DnsPaneTest, NormalResolveUsesTheSystemResolver) {
  // Names from the hosts file only: nothing is sent to the machine's resolver.
  EXPECT_EQ(run(0, "203.0.113.53", "localhost"),
            "Resolving :\r\n\r\n\tResolving Domain Name: localhost\r\n\r\n\t127.0.0.1");
  EXPECT_EQ(run(0, "203.0.113.53", "127.0.0.1"),
            "Resolving :\r\n\r\n\tResolving Domain Name: 127.0.0.1\r\n\r\n\tlocalhost");
  // Longer than a name can be: fails without a lookup.
  const std::string tooLong(129, 'h');
  EXPECT_EQ(run(0, "203.0.113.53", tooLong), "Resolving :\r\n\r\n\tResolving Domain Name: " +
                                                 tooLong + "\r\n\r\n\tResolution Failed!");
}

// AAAA answers and glue, and the PTR record of an IPv6 address, from the server on ::1 (also named
// with its interface, as the resolver configuration may name it).
TEST_F(DnsPaneTest, AsksAnIpv6ServerForAaaaRecordsAndIpv6Names) {
  REQUIRE_SERVER();
  const std::string answers = "AAAA:\t2001:db8::10\r\nAAAA:\t2001:db8:0:1::11\r\n";
  const std::string aaaa = "[DNS QUERY: v6.dns.test]\r\n\r\n[Authorititive Answers]\r\n" + answers +
                           "\r\n" + kNsAuthority + kGlue;
  EXPECT_EQ(run(8, "::1", "v6.dns.test"), aaaa);
  EXPECT_EQ(run(8, "::1%lo", "v6.dns.test"), aaaa);
  std::string dig;
  std::istringstream lines(RunCommand("dig @::1 +noedns +tries=1 +time=2 +short v6.dns.test AAAA"));
  for (std::string line; std::getline(lines, line);) dig += "AAAA:\t" + line + "\r\n";
  EXPECT_EQ(dig, answers);

  EXPECT_EQ(run(1, "::1", "www.sub.dns.test"),
            "[DNS QUERY: www.sub.dns.test]\r\n\r\n[Authorititive Answers]\r\n\r\n"
            "[Authorititive Answers Can Be Found At]\r\nNS:\tns.sub.dns.test\r\n\r\n"
            "[Additional Records]\r\nAAAA:\t2001:db8::153\r\n\r\n");
  // The query line shows the address as typed.
  EXPECT_EQ(run(5, "::1", "2001:DB8::10"),
            "[DNS QUERY: 2001:DB8::10]\r\n\r\n"
            "[Authorititive Answers]\r\nPTR:\tv6.dns.test\r\n\r\n"
            "[Authorititive Answers Can Be Found At]\r\nNS:\tns1.dns.test\r\n\r\n"
            "[Additional Records]\r\n\r\n");
}

TEST_F(DnsPaneTest, GetDefaultAndNormalResolveTakeIpv6) {
  std::ofstream(dir_.file("resolv.conf")) << "nameserver 2001:DB8::53\nnameserver 198.51.100.1\n";
  combo(kDnsQueryTypeId)->setCurrentIndex(8);
  getDefault();
  EXPECT_EQ(combo(kDnsServerId)->currentText(), "2001:db8::53");

  // Names from a hosts file of the test's own, one with an IPv6 address alone: nothing is asked
  // of the machine's resolver.
  if (!IsRoot()) GTEST_SKIP() << "a hosts file of the test's own needs root";
  const HostsFileShown hosts("127.0.0.1 localhost\n::1 v6only.test\n");
  ASSERT_TRUE(hosts.shown());
  EXPECT_EQ(run(0, "203.0.113.53", "v6only.test"),
            "Resolving :\r\n\r\n\tResolving Domain Name: v6only.test\r\n\r\n\t::1");
  EXPECT_EQ(run(0, "203.0.113.53", "0::1"),
            "Resolving :\r\n\r\n\tResolving Domain Name: 0::1\r\n\r\n\tv6only.test");
}

TEST_F(DnsPaneTest, ASilentServerGivesQueryFailedAfterTwoSeconds) {
  SilentDnsServer silent(kSilentAddress);
  REQUIRE_SILENT_SERVER(silent);
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(run(1, kSilentAddress, "www.dns.test"),
            "[DNS QUERY: www.dns.test]\r\n\r\n\tQuery Failed!");
  EXPECT_GE(timer.elapsed(), 1900);
}

TEST_F(DnsPaneTest, StopEndsTheQueryAtOnceAndPrintsNothingMore) {
  SilentDnsServer silent(kSilentAddress);
  REQUIRE_SILENT_SERVER(silent);
  AppendOutput(pane_.get(), kOutputPaneId, std::string_view("old\r\n"));
  setUp(1, kSilentAddress, "www.dns.test");
  ClickControl(pane_.get(), kDnsStartId);
  ASSERT_TRUE(WaitUntil([&] { return output() == "[DNS QUERY: www.dns.test]\r\n\r\n"; }));
  ClickControl(pane_.get(), kDnsStartId);
  EXPECT_EQ(buttonText(), "Start");
  EXPECT_FALSE(pane_->running());
  ServeEvents(300);  // the stopped worker ends at once; what it tries to print is dropped
  EXPECT_EQ(output(), "[DNS QUERY: www.dns.test]\r\n\r\n");

  // The close operation does the same.
  ClickControl(pane_.get(), kDnsStartId);
  EXPECT_EQ(buttonText(), "Stop");
  pane_->closeModule();
  EXPECT_EQ(buttonText(), "Start");
  ServeEvents(300);
  EXPECT_TRUE(output() == "[DNS QUERY: www.dns.test]\r\n\r\n" || output().empty()) << output();
}

// Through an agent that stops answering (held with SIGSTOP): the window's calls never wait for
// it. A query waits on its worker while Stop and the close operation act at once, and "Get
// Default" leaves the box as it is until the agent answers again.
TEST_F(DnsPaneTest, AStalledAgentNeverHoldsTheWindow) {
  if (!ThroughAgent()) GTEST_SKIP() << "the window's host is this computer";
  const pid_t agent = ChildStartedFrom(PELORIN_AGENT_PATH);
  ASSERT_GT(agent, 0);
  ASSERT_EQ(kill(agent, SIGSTOP), 0);
  setUp(1, kServerAddress, "www.dns.test");
  ClickControl(pane_.get(), kDnsStartId);
  ServeEvents(100);
  EXPECT_EQ(buttonText(), "Stop");
  ClickControl(pane_.get(), kDnsStartId);
  EXPECT_EQ(buttonText(), "Start");
  EXPECT_FALSE(pane_->running());
  ClickControl(pane_.get(), kDnsGetDefaultId);
  EXPECT_TRUE(pane_->gettingDefault());
  ClickControl(pane_.get(), kDnsStartId);
  pane_->closeModule();
  EXPECT_FALSE(pane_->running());
  ASSERT_EQ(kill(agent, SIGCONT), 0);
  waitForDefault();
  EXPECT_EQ(combo(kDnsServerId)->currentText(), "203.0.113.53");
  ServeEvents(200);
  EXPECT_EQ(output(), "");  // the stopped runs print nothing, even once answered
}

TEST_F(DnsPaneTest, AnEmptyHostPrintsNothing) {
  AppendOutput(pane_.get(), kOutputPaneId, std::string_view("kept\r\n"));
  EXPECT_EQ(run(1, kSilentAddress, ""), "kept\r\n");
  EXPECT_EQ(combo(kDnsHostId)->count(), 0);
  EXPECT_EQ(items(kDnsServerId), std::vector<std::string>{kSilentAddress});
}

TEST_F(DnsPaneTest, AnUnusableServerIsReportedAndTheQueryFails) {
  RecordingPresenter boxes;
  // Too long for a name: refused without a lookup.
  const std::string badServer(129, 's');
  EXPECT_EQ(run(1, badServer, "www.dns.test"), "[DNS QUERY: www.dns.test]\r\n\r\n\tQuery Failed!");
  EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Invalid DNS Server!"});
  EXPECT_EQ(boxes.boxes()[0].caption, "Pelorin Error!");
  EXPECT_EQ(items(kDnsServerId), std::vector<std::string>{badServer});
  // The box comes in Normal Resolve too, and the resolution still runs.
  boxes.clear();
  EXPECT_EQ(run(0, "", "localhost"),
            "Resolving :\r\n\r\n\tResolving Domain Name: localhost\r\n\r\n\t127.0.0.1");
  EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Invalid DNS Server!"});
}

TEST_F(DnsPaneTest, HistoriesKeepEachTextOnceHostsSorted) {
  REQUIRE_SERVER();
  for (const char* host :
       {"www.dns.test", "box.dns.test", "WWW.DNS.TEST", "alias.dns.test", "Box.dns.test"}) {
    query(1, host);
  }
  EXPECT_EQ(items(kDnsHostId),
            (std::vector<std::string>{"alias.dns.test", "box.dns.test", "www.dns.test"}));
  EXPECT_EQ(combo(kDnsHostId)->currentText(), "Box.dns.test");  // the typed text stays
  run(1, "127.0.53.2", "www.dns.test");
  EXPECT_EQ(items(kDnsServerId), std::vector<std::string>{kServerAddress});
}

TEST(DnsSendTo, EndsTheQueryFillsTheHostAndShowsThePane) {
  SilentDnsServer silent(kSilentAddress);
  REQUIRE_SILENT_SERVER(silent);
  SetUiShuttingDown(false);
  MainWindow window;
  window.show();
  auto* pane = qobject_cast<DnsPane*>(window.pane(kDnsButton));
  ASSERT_NE(pane, nullptr);
  FindControl<QComboBox>(pane, kDnsQueryTypeId)->setCurrentIndex(2);
  SetControlText(pane, kDnsServerId, kSilentAddress);
  SetControlText(pane, kDnsHostId, "dns.test");
  ClickControl(pane, kDnsStartId);
  ASSERT_TRUE(pane->running());

  DnsSendTo("198.51.100.7");
  EXPECT_FALSE(pane->running());
  EXPECT_EQ(ReadControlText(pane, kDnsStartId), "Start");
  EXPECT_EQ(ReadControlText(pane, kDnsHostId), "198.51.100.7");
  EXPECT_EQ(window.currentPane(), pane);
  EXPECT_TRUE(pane->isVisible());
  // The mode and the server stay; nothing more is printed and nothing starts.
  EXPECT_EQ(FindControl<QComboBox>(pane, kDnsQueryTypeId)->currentIndex(), 2);
  EXPECT_EQ(ReadControlText(pane, kDnsServerId), kSilentAddress);
  ServeEvents(300);
  EXPECT_FALSE(pane->running());
  const std::string out = GetOutputText(pane, kOutputPaneId);
  EXPECT_TRUE(out.empty() || out == "[DNS QUERY: dns.test]\r\n\r\n") << out;
}
