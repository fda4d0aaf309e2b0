#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <fstream>
#include <memory>

#include "host/host.h"
#include "host/local_services.h"
#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/output.h"
#include "shell/ui_thread.h"
#include "test_util.h"
#include "whois/whois_answer.h"
#include "whois/whois_pane.h"
#include "whois/whois_query.h"
#include "whois/whois_servers.h"
#include "whois/whois_service.h"
#include "whois_test_server.h"

namespace {

// Where the tests' lookups send the registries' names; nothing reaches the machine's resolver.
std::optional<std::string> AddressOf(const std::string& name) {
  if (name == "whois.denic.de") return "127.0.43.21";
  if (name == "whois.nic.ac.uk") return "127.0.43.22";
  if (name == "whois.v6.test") return "::1";  // a name with an IPv6 address alone
  return std::nullopt;
}
std::optional<std::string> NameOf(uint32_t) {
  return std::nullopt;
}
const HostLookups kLookups{NameOf, AddressOf};

// The same names for the agent's resolver, which asks no server: a hosts file of the test's own
// and a resolver configuration that names none (the lookup then goes to loopback alone).
constexpr const char* kHostsLines =
    "127.0.43.21 whois.denic.de\n127.0.43.22 whois.nic.ac.uk\n::1 whois.v6.test\n";

// The service the pane asks, kept for the whole run (a stopped query's worker may outlive a
// test): the agent's, or this computer's with the lookups above. No bootstrap: the names here
// take the port-43 paths only.
WhoisService& Service() {
  if (ThroughAgent()) return WindowHost().whois();
  static WhoisService* const service =
      NewLocalWhoisService({&kLookups, RdapBootstrapPlaces{{}, {}, {}}}).release();
  return *service;
}

constexpr const char* kRegistry = "127.0.43.30";

using End = WhoisServerScript::End;

WhoisServerScript Answer(std::vector<std::string> pieces, End end = End::Close) {
  WhoisServerScript script;
  script.pieces = std::move(pieces);
  script.end = end;
  return script;
}

#define REQUIRE_LISTENING(server) \
  if (!(server).listening()) GTEST_SKIP() << "cannot listen on port 43 (needs root)"

class WhoisPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUiShuttingDown(false);
    if (ThroughAgent()) {
      if (!IsRoot()) GTEST_SKIP() << "showing the agent its names needs root";
      std::ofstream(dir_.file("hosts")) << kHostsLines;
      std::ofstream(dir_.file("resolv.conf")) << "";
      hosts_ = std::make_unique<FileShownAt>(dir_.file("hosts"), "/etc/hosts");
      resolver_ = std::make_unique<FileShownAt>(dir_.file("resolv.conf"), "/etc/resolv.conf");
      ASSERT_TRUE(hosts_->shown() && resolver_->shown());
    }
    SetWhoisTestHooks({kRegistry});
    main_.resize(800, 600);
    pane_ = new WhoisPane(&main_, Service());
    main_.show();
    pane_->show();
  }
  void TearDown() override {
    delete pane_;
    SetWhoisTestHooks({});
    resolver_.reset();
    hosts_.reset();
  }

  QPushButton* button() const { return FindControl<QPushButton>(pane_, 1); }
  QComboBox* queryBox() const { return FindControl<QComboBox>(pane_, kWhoisQueryBoxId); }
  QComboBox* serverBox() const { return FindControl<QComboBox>(pane_, kWhoisServerBoxId); }
  QPlainTextEdit* output() const { return FindControl<QPlainTextEdit>(pane_, kOutputPaneId); }
  std::string text() const { return GetOutputText(pane_, kOutputPaneId); }

  void chooseServer(const QString& server) {
    ClickControl(pane_, kWhoisCustomCheckId);
    serverBox()->setEditText(server);
  }
  void start(const QString& query) {
    queryBox()->setEditText(query);
    pane_->command(1);
  }
  // Runs one query to its end; false if the button never came back to "Start".
  bool run(const QString& query) {
    start(query);
    EXPECT_EQ(button()->text(), "Stop");
    return WaitUntil([&] { return button()->text() == "Start"; }, 10000);
  }

  TempDir dir_;
  std::unique_ptr<FileShownAt> hosts_, resolver_;
  QWidget main_;
  WhoisPane* pane_ = nullptr;
  RecordingPresenter boxes_;
};

}  // namespace

TEST_F(WhoisPaneTest, StartsIdleAndTheCheckBoxEnablesTheServerList) {
  EXPECT_EQ(button()->text(), "Start");
  EXPECT_TRUE(queryBox()->isEditable());
  EXPECT_EQ(queryBox()->currentText(), "");
  EXPECT_FALSE(serverBox()->isEnabled());
  EXPECT_EQ(serverBox()->currentText(), "");
  ASSERT_EQ(serverBox()->count(), int(kWhoisServerRows));
  for (size_t i = 0; i < kWhoisServerRows; ++i) {
    EXPECT_EQ(serverBox()->itemText(int(i)).toStdString(), WhoisServers()[i].server);
  }
  auto* check = FindControl<QCheckBox>(pane_, kWhoisCustomCheckId);
  EXPECT_EQ(check->text(), "Choose Whois Server");
  EXPECT_FALSE(check->isChecked());
  ClickControl(pane_, kWhoisCustomCheckId);
  EXPECT_TRUE(serverBox()->isEnabled());
  ClickControl(pane_, kWhoisCustomCheckId);
  EXPECT_FALSE(serverBox()->isEnabled());
  EXPECT_TRUE(output()->isReadOnly());
}

TEST_F(WhoisPaneTest, NameGoesLowerCasedToItsRegistryAndTheAnswerGetsCrLf) {
  // An answer with bare LF line ends, in many small pieces.
  const std::string answer = "Domain: example.de\nNserver: ns1.example.de\nStatus: connect\n";
  WhoisServerScript script;
  for (size_t i = 0; i < answer.size(); i += 3) script.pieces.push_back(answer.substr(i, 3));
  script.pauseMs = 1;
  TestWhoisServer denic("127.0.43.21", script);
  REQUIRE_LISTENING(denic);

  ASSERT_TRUE(run("WWW.Example.DE"));
  EXPECT_EQ(text(), "Domain: example.de\r\nNserver: ns1.example.de\r\nStatus: connect\r\n");
  EXPECT_EQ(denic.requests(), std::vector<std::string>{"www.example.de\r\n"});

  // Again in other case: the output is cleared, the history keeps the first spelling once.
  ASSERT_TRUE(run("www.example.de"));
  EXPECT_EQ(text(), "Domain: example.de\r\nNserver: ns1.example.de\r\nStatus: connect\r\n");
  ASSERT_EQ(queryBox()->count(), 1);
  EXPECT_EQ(queryBox()->itemText(0), "WWW.Example.DE");
  EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(WhoisPaneTest, AcademicNamesAndCustomServersPickTheirServer) {
  TestWhoisServer academic("127.0.43.22", Answer({"Domain:\r\n    example.ac.uk\r\n"}));
  TestWhoisServer custom("127.0.43.23", Answer({"custom\r\n"}));
  REQUIRE_LISTENING(academic);

  ASSERT_TRUE(run("example.AC.uk"));
  EXPECT_EQ(text(), "Domain:\r\n    example.ac.uk\r\n");

  chooseServer("127.0.43.23");
  ASSERT_TRUE(run("example.ac.uk"));
  EXPECT_EQ(text(), "custom\r\n");
  EXPECT_EQ(academic.requestCount(), 1u);
  EXPECT_EQ(custom.requests(), std::vector<std::string>{"example.ac.uk\r\n"});

  // An empty custom server means the default one, which the tests' lookups do not know.
  serverBox()->setEditText("");
  ASSERT_TRUE(run("example.ac.uk"));
  EXPECT_EQ(boxes_.texts(),
            std::vector<std::string>{"Failed To Resolve Whois Server Name: whois.iana.org"});
  EXPECT_EQ(text(), "");
}

TEST_F(WhoisPaneTest, AddressFollowsOneReferralAndPrintsOnlyItsAnswer) {
  TestWhoisServer registry(kRegistry, Answer({"NetRange: 192.0.2.0 - 192.0.2.255\r\n"
                                              "ReferralServer: whois://127.0.0.2:4321/\r\n"}));
  const std::string referred =
      "inetnum: 192.0.2.0 - 192.0.2.255\r\nReferralServer: whois://127.0.43.31\r\n";
  TestWhoisServer second("127.0.0.2", Answer({referred}));
  TestWhoisServer third("127.0.43.31", Answer({"never asked\r\n"}));
  REQUIRE_LISTENING(registry);
  chooseServer("127.0.43.32");  // does not apply to addresses

  ASSERT_TRUE(run("192.0.2.1"));
  EXPECT_EQ(text(), referred);
  EXPECT_EQ(registry.requests(), std::vector<std::string>{"192.0.2.1\r\n"});
  EXPECT_EQ(second.requests(), std::vector<std::string>{"192.0.2.1\r\n"});
  EXPECT_EQ(third.requestCount(), 0u);
  EXPECT_EQ(boxes_.count(), 0u);
}

// An IPv6 address goes to the address registry, whose referral names a server by its IPv6
// address; a server named by a name with an IPv6 address alone is reached over IPv6 too.
TEST_F(WhoisPaneTest, Ipv6AddressesAndServersOverIpv6) {
  TestWhoisServer registry(kRegistry, Answer({"NetRange: 2001:db8:: - 2001:db8:ffff::\r\n"
                                              "ReferralServer: whois://[::1]:4321/\r\n"}));
  const std::string referred = "inet6num: 2001:db8::/32\r\n";
  TestWhoisServer v6("::1", Answer({referred}));
  REQUIRE_LISTENING(registry);
  ASSERT_TRUE(v6.listening());

  ASSERT_TRUE(run("2001:DB8::1"));
  EXPECT_EQ(text(), referred);
  EXPECT_EQ(registry.requests(), std::vector<std::string>{"2001:DB8::1\r\n"});
  EXPECT_EQ(v6.requests(), std::vector<std::string>{"2001:DB8::1\r\n"});

  chooseServer("whois.v6.test");
  ASSERT_TRUE(run("example.com"));
  EXPECT_EQ(text(), referred);
  EXPECT_EQ(v6.requestCount(), 2u);
  EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(WhoisPaneTest, AddressAnswerWithoutReferralIsPrintedAsItCame) {
  // Each line in its own encoding: Latin-1 bytes and UTF-8 both show as the same text. The bare
  // LF stays (the answer has a CR LF).
  TestWhoisServer registry(kRegistry, Answer({"OrgName: Stra\xDF"
                                              "e GmbH\r\n",
                                              "Address: Stra\xC3\x9F"
                                              "e 1\r\n",
                                              "Comment: one\ntwo\r\n"}));
  REQUIRE_LISTENING(registry);
  ASSERT_TRUE(run("192.0.2.9"));
  EXPECT_EQ(text(),
            "OrgName: Stra\xC3\x9F"
            "e GmbH\r\nAddress: Stra\xC3\x9F"
            "e 1\r\nComment: one\ntwo\r\n");
}

TEST_F(WhoisPaneTest, FailingReferralServerShowsItsBoxAndNothingIsPrinted) {
  TestWhoisServer registry(kRegistry,
                           Answer({"NetRange: x\r\nReferralServer: whois://127.0.43.33\r\n"}));
  REQUIRE_LISTENING(registry);
  ASSERT_TRUE(run("192.0.2.1"));
  EXPECT_EQ(boxes_.texts(),
            std::vector<std::string>{"Failed To Connect To Whois Server: 127.0.43.33"});
  EXPECT_EQ(boxes_.boxes()[0].owner, pane_);
  EXPECT_EQ(text(), "");
}

TEST_F(WhoisPaneTest, BadNamesAndUnreachableServersShowTheirBoxes) {
  TestWhoisServer custom("127.0.43.34", Answer({"never asked\r\n"}));
  REQUIRE_LISTENING(custom);
  ASSERT_TRUE(run(""));
  ASSERT_TRUE(run("localhost"));
  chooseServer("127.0.43.34");
  ASSERT_TRUE(run("example.com."));
  EXPECT_EQ(custom.requestCount(), 0u);

  serverBox()->setEditText("127.0.43.35");
  ASSERT_TRUE(run("example.com"));
  serverBox()->setEditText(QString(200, QLatin1Char('w')));
  ASSERT_TRUE(run("example.com"));
  EXPECT_EQ(boxes_.texts(), (std::vector<std::string>{
                                "Bad Name!", "Bad Name!", "Bad Name!",
                                "Failed To Connect To Whois Server: 127.0.43.35",
                                "Failed To Resolve Whois Server Name: " + std::string(200, 'w')}));
  EXPECT_EQ(text(), "");
}

TEST_F(WhoisPaneTest, StopEndsAQueryAtOnceWhileTheServerIsSilent) {
  TestWhoisServer silent("127.0.43.36", Answer({}, End::Hold));
  REQUIRE_LISTENING(silent);
  chooseServer("127.0.43.36");
  start("example.com");
  ASSERT_TRUE(WaitUntil([&] { return silent.requestCount() == 1; }));
  ClickControl(pane_, 1);
  EXPECT_EQ(button()->text(), "Start");
  EXPECT_TRUE(WaitUntil([&] { return silent.clientsGone() == 1; }));

  // The close operation does the same.
  start("example.com");
  ASSERT_TRUE(WaitUntil([&] { return silent.requestCount() == 2; }));
  pane_->closeModule();
  EXPECT_EQ(button()->text(), "Start");
  EXPECT_TRUE(WaitUntil([&] { return silent.clientsGone() == 2; }));
  ServeEvents(50);
  EXPECT_EQ(text(), "");
  EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(WhoisPaneTest, ClosedOrBrokenConnectionsPrintWhatArrived) {
  TestWhoisServer closes("127.0.43.37", Answer({}));
  TestWhoisServer breaks("127.0.43.38", Answer({"partial answer\r\n"}, End::Reset));
  REQUIRE_LISTENING(closes);
  chooseServer("127.0.43.37");
  ASSERT_TRUE(run("example.com"));
  EXPECT_EQ(text(), "");
  serverBox()->setEditText("127.0.43.38");
  ASSERT_TRUE(run("example.com"));
  EXPECT_EQ(text(), "partial answer\r\n");
  EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(WhoisPaneTest, EndlessAnswerEndsInAMemoryErrorAtTheCap) {
  std::string lines;
  while (lines.size() < 64 * 1024) lines += "0123456789abcdef0123456789abcdef\r\n";
  TestWhoisServer endless("127.0.43.39", Answer({lines}, End::Endless));
  REQUIRE_LISTENING(endless);
  chooseServer("127.0.43.39");
  ASSERT_TRUE(run("example.com"));
  EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"Memory Allocation Error!"});
  EXPECT_EQ(text(), "");
  EXPECT_TRUE(WaitUntil([&] { return endless.clientsGone() == 1; }));
}

TEST_F(WhoisPaneTest, LongAnswerIsShownFromItsStart) {
  std::string answer;
  for (int i = 0; i < 3000; ++i) answer += "line " + std::to_string(i) + "\r\n";
  TestWhoisServer server("127.0.43.40", Answer({answer}));
  REQUIRE_LISTENING(server);
  chooseServer("127.0.43.40");
  ASSERT_TRUE(run("example.com"));
  ServeEvents(50);
  EXPECT_EQ(text(), answer);
  EXPECT_GT(output()->verticalScrollBar()->maximum(), 2000);
  EXPECT_EQ(output()->verticalScrollBar()->value(), 0);
  EXPECT_EQ(output()->cursorForPosition(QPoint(0, 0)).blockNumber(), 0);
}

TEST_F(WhoisPaneTest, AnAnswerAtTheCapInOneLineIsShownWholeFromItsStart) {
  // Two-byte characters among one-byte ones: the text reaches the pane in batches, and no batch
  // may end inside a character.
  std::string answer = "first line\r\n";
  while (answer.size() < kWhoisAnswerLimit) answer += answer.size() % 3 ? "\xC3\xA9" : "x";
  answer.resize(kWhoisAnswerLimit - 2);
  if (answer.back() == '\xC3') answer.back() = 'x';  // no half character at the end
  answer += "\r\n";
  TestWhoisServer atCap("127.0.43.41", Answer({answer}));
  TestWhoisServer overCap("127.0.43.42", Answer({answer + "!"}));
  REQUIRE_LISTENING(atCap);
  chooseServer("127.0.43.41");
  ASSERT_TRUE(run("example.com"));
  EXPECT_EQ(text(), answer);
  EXPECT_EQ(output()->verticalScrollBar()->value(), 0);
  EXPECT_EQ(output()->cursorForPosition(QPoint(0, 0)).blockNumber(), 0);

  serverBox()->setEditText("127.0.43.42");
  ASSERT_TRUE(run("example.com"));
  EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"Memory Allocation Error!"});
  EXPECT_EQ(text(), "");
}
