// RDAP through the real Whois pane: an HTTPS server of the test's own behind the registries' real
// names (rdap_test_server.h), a bootstrap in a cache folder of the test's own.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "host/host.h"
#include "host/local_services.h"
#include "rdap_test_server.h"
#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/output.h"
#include "shell/ui_thread.h"
#include "test_util.h"
#include "whois/rdap_bootstrap_store.h"
#include "whois/whois_pane.h"
#include "whois/whois_query.h"
#include "whois/whois_service.h"

namespace {

using Json = nlohmann::json;

// The port-43 servers of the tests: whois.nic.sh where nothing listens; other names resolve not.
std::optional<std::string> AddressOf(const std::string& name) {
  if (name == "whois.nic.sh") return "127.0.43.60";
  return std::nullopt;
}
std::optional<std::string> NameOf(uint32_t) {
  return std::nullopt;
}
const HostLookups kLookups{NameOf, AddressOf};

// The services the panes ask, kept for the whole run: a stopped query's worker may outlive its
// test.
WhoisService& Kept(std::unique_ptr<WhoisService> service) {
  static std::vector<std::unique_ptr<WhoisService>> kept;
  kept.push_back(std::move(service));
  return *kept.back();
}

constexpr const char* kRegistry = "www.registry.google/rdap/domain/";

Json Answer(int status, const std::string& body, Json headers = Json::object()) {
  return {{"status", status}, {"body", body}, {"headers", headers}};
}

std::string SmallDomain(const std::string& name, const std::string& links = "[]") {
  return R"({"objectClassName": "domain", "ldhName": ")" + name + R"(", "links": )" + links + "}";
}

Json Routes() {
  Json routes;
  routes[std::string(kRegistry) + "example.dev"] = {
      {{"status", 200}, {"file", RdapTestData("example.dev.registry.json")}}};
  routes["rdap.registrar.example/domain/example.dev"] = {
      {{"status", 200}, {"file", RdapTestData("example.dev.registrar.json")}}};
  routes[std::string(kRegistry) + "nosuch.dev"] = {Answer(
      404, R"({"errorCode": 404, "title": "Not Found", "description": ["No such object."]})")};
  routes[std::string(kRegistry) + "moved.dev"] = {
      Answer(301, "", {{"Location", "https://www.registry.google/rdap/domain/html.dev"}})};
  // Its registrar link is a web page: not followed.
  routes[std::string(kRegistry) + "html.dev"] = {
      Answer(200, SmallDomain("html.dev", R"([{"rel": "related", "type": "text/html",
                                        "href": "https://rdap.registrar.example/domain/html.dev"}])"))};
  routes[std::string(kRegistry) + "plain.dev"] = {
      Answer(302, "", {{"Location", "http://www.registry.google/rdap/domain/html.dev"}})};
  routes[std::string(kRegistry) + "busy.dev"] = {Answer(429, "", {{"Retry-After", "1"}}),
                                                 Answer(200, SmallDomain("busy.dev"))};
  routes[std::string(kRegistry) + "swamped.dev"] = {Answer(429, "", {{"Retry-After", "120"}})};
  routes[std::string(kRegistry) + "broken.dev"] = {Answer(500, "")};
  routes[std::string(kRegistry) + "garbled.dev"] = {Answer(200, "{\"ldhName\": ")};
  routes[std::string(kRegistry) + "slow.dev"] = {
      {{"status", 200}, {"body", SmallDomain("slow.dev")}, {"holdSeconds", 20}}};
  routes["rdap.identitydigital.services/rdap/domain/example.sh"] = {
      Answer(200, SmallDomain("example.sh"))};
  routes["data.iana.org/rdap/dns.json"] = {
      Answer(500, ""), {{"status", 200}, {"file", RdapTestData("bootstrap.json")}}};
  return routes;
}

class RdapPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUiShuttingDown(false);
    main_.resize(800, 600);
    if (ThroughAgent()) {
      // An agent of the test's own keeps its bootstrap in the test's cache folder.
      if (!IsRoot()) GTEST_SKIP() << "needs root: port 443 and a private view of the files";
      setenv("XDG_CACHE_HOME", cacheDir_.path().c_str(), 1);
      const bool started = UseBuiltAgent();
      unsetenv("XDG_CACHE_HOME");
      ASSERT_TRUE(started);
      agent_ = ChildStartedFrom(PELORIN_AGENT_PATH);
      pane_ = new WhoisPane(&main_, WindowHost().whois());
    } else {
      pane_ = new WhoisPane(&main_, Kept(NewLocalWhoisService({&kLookups, places_})));
    }
    main_.show();
    pane_->show();
    // The threads Qt starts for a shown window are there before the peers' view of the files.
    ServeEvents(50);
    peers_ = std::make_unique<RdapPeers>(Routes().dump());
    if (!peers_->ready()) GTEST_SKIP() << "needs root: port 443 and a private view of the files";
    std::filesystem::create_directories(cacheDir_.file("pelorin"));
    std::filesystem::copy_file(RdapTestData("bootstrap.json"), places_.cacheFile);
    if (ThroughAgent()) {
      // The agent's resolver knows the lookups' one port-43 server beside the peers' names and
      // asks no server for the others.
      std::ifstream peersHosts("/etc/hosts");
      std::ofstream(cacheDir_.file("hosts"))
          << std::string(std::istreambuf_iterator<char>(peersHosts), {})
          << "127.0.43.60 whois.nic.sh\n";
      std::ofstream(cacheDir_.file("resolv.conf")) << "";
      hosts_ = std::make_unique<FileShownAt>(cacheDir_.file("hosts"), "/etc/hosts");
      resolver_ = std::make_unique<FileShownAt>(cacheDir_.file("resolv.conf"), "/etc/resolv.conf");
      ASSERT_TRUE(hosts_->shown() && resolver_->shown());
    }
  }
  void TearDown() override {
    delete pane_;
    resolver_.reset();
    hosts_.reset();
    peers_.reset();
    if (ThroughSsh()) {
      SetWindowHost(NewLocalHost());  // ends this test's own agent with its connection
    } else if (agent_ > 0) {
      kill(agent_, SIGTERM);  // this test's own agent
    }
  }

  QPushButton* button() const { return FindControl<QPushButton>(pane_, 1); }
  std::string text() const { return GetOutputText(pane_, kOutputPaneId); }
  void start(const QString& query) {
    FindControl<QComboBox>(pane_, kWhoisQueryBoxId)->setEditText(query);
    pane_->command(1);
  }
  // One query to its end; its output.
  std::string run(const QString& query) {
    start(query);
    EXPECT_TRUE(WaitUntil([&] { return button()->text() == "Start"; }, 20000))
        << query.toStdString();
    return text();
  }

  std::unique_ptr<RdapPeers> peers_;
  std::unique_ptr<FileShownAt> hosts_, resolver_;
  pid_t agent_ = -1;
  TempDir cacheDir_;
  RdapBootstrapPlaces places_{
      cacheDir_.file("pelorin/rdap-dns.json"),
      std::string(std::getenv("PELORIN_SOURCE_DIR") ?: ".") + "/resources/rdap/dns.json",
      std::string(kRdapBootstrapUrl)};
  QWidget main_;
  WhoisPane* pane_ = nullptr;
  RecordingPresenter boxes_;
};

}  // namespace

TEST_F(RdapPaneTest, ANameWithoutPort43GivesTheRegistrysAndTheRegistrarsText) {
  EXPECT_EQ(run("Example.DEV"),
            "[RDAP: https://www.registry.google/rdap/domain/example.dev]\r\n"
            "\r\n"
            "Domain Name: example.dev\r\n"
            "Registry Domain ID: 2F1E5A3C8-DEV\r\n"
            "Registrar: Example Registrar, Inc.\r\n"
            "Registrar IANA ID: 292\r\n"
            "Registrar URL: https://www.registrar.example\r\n"
            "Registrar Abuse Contact Email: abusecomplaints@registrar.example\r\n"
            "Updated Date: 2025-01-30T09:52:38.212Z\r\n"
            "Creation Date: 2019-02-28T19:37:22.000Z\r\n"
            "Registry Expiry Date: 2026-02-28T19:37:22.000Z\r\n"
            "Domain Status: client delete prohibited\r\n"
            "Domain Status: client transfer prohibited\r\n"
            "Domain Status: client update prohibited\r\n"
            "Name Server: ns1.example.net\r\n"
            "Name Server: ns2.example.net\r\n"
            "DNSSEC: unsigned\r\n"
            "\r\n"
            "Notice: RDAP Terms of Service\r\n"
            "  By querying our Domain Database, you are agreeing to comply with these terms.\r\n"
            "  Line one\\013\\010Domain Name: forged.example\r\n"
            "  https://www.registry.google/about/rdap/tos.html\r\n"
            "\r\n"
            "Notice: Status Codes\r\n"
            "  For more information on domain status codes, please visit https://icann.org/epp\r\n"
            "  https://icann.org/epp\r\n"
            "\r\n"
            "[RDAP: https://rdap.registrar.example/domain/example.dev]\r\n"
            "\r\n"
            "Domain Name: EXAMPLE.DEV\r\n"
            "Registry Domain ID: 2F1E5A3C8-DEV\r\n"
            "Registrar: Example Registrar, Inc.\r\n"
            "Registrar IANA ID: 292\r\n"
            "Registrar URL: https://www.registrar.example\r\n"
            "Registrar Abuse Contact Email: abusecomplaints@registrar.example\r\n"
            "Registry Registrant ID: REDACTED\r\n"
            "Registrant Name: REDACTED\r\n"
            "Registrant Organization: Example Holdings LLC\r\n"
            "Registrant Street: REDACTED\r\n"
            "Registrant State/Province: CA\r\n"
            "Registrant Country: US\r\n"
            "Registrant Email: Please ask the registrar of record\r\n"
            "Registry Tech ID: C-1\r\n"
            "Tech Name: Jane Roe\r\n"
            "Tech Street: Suite 1234\r\n"
            "Tech Street: 4321 Rue Somewhere\r\n"
            "Tech City: Quebec\r\n"
            "Tech State/Province: QC\r\n"
            "Tech Postal Code: G1V 2M2\r\n"
            "Tech Country: Canada\r\n"
            "Tech Phone: +1-555-555-1234;ext=102\r\n"
            "Tech Fax: +1-555-555-4321\r\n"
            "Tech Email: jane@example.dev\r\n"
            "Registry Admin ID: C-1\r\n"
            "Admin Name: Jane Roe\r\n"
            "Admin Street: Suite 1234\r\n"
            "Admin Street: 4321 Rue Somewhere\r\n"
            "Admin City: Quebec\r\n"
            "Admin State/Province: QC\r\n"
            "Admin Postal Code: G1V 2M2\r\n"
            "Admin Country: Canada\r\n"
            "Admin Phone: +1-555-555-1234;ext=102\r\n"
            "Admin Fax: +1-555-555-4321\r\n"
            "Admin Email: jane@example.dev\r\n"
            "Billing Email: REDACTED\r\n"
            "\r\n"
            "Remark\r\n"
            "  Data from the registrar of record.\r\n");
  EXPECT_EQ(boxes_.count(), 0u);

  // A server given as an RDAP base URL is asked, without the bootstrap.
  ClickControl(pane_, kWhoisCustomCheckId);
  FindControl<QComboBox>(pane_, kWhoisServerBoxId)->setEditText("https://www.registry.google/rdap");
  EXPECT_EQ(run("example.dev").substr(0, 69),
            "[RDAP: https://www.registry.google/rdap/domain/example.dev]\r\n\r\nDomain");
  EXPECT_EQ(
      peers_->requests(),
      (std::vector<std::string>{
          std::string(kRegistry) + "example.dev", "rdap.registrar.example/domain/example.dev",
          std::string(kRegistry) + "example.dev", "rdap.registrar.example/domain/example.dev"}));
}

TEST_F(RdapPaneTest, EveryFailureIsALineUnderTheUrlAsked) {
  const auto url = [](const std::string& name) {
    return "[RDAP: https://" + std::string(kRegistry) + name + "]\r\n\r\n";
  };
  EXPECT_EQ(run("nosuch.dev"), url("nosuch.dev") +
                                   "No Such Domain: nosuch.dev\r\n\r\nError: Not Found\r\n"
                                   "  No such object.\r\n");
  // Followed to an answer whose registrar link is a web page, which is not followed.
  EXPECT_EQ(run("moved.dev"), url("moved.dev") + "Domain Name: html.dev\r\n");
  EXPECT_EQ(run("plain.dev"),
            url("plain.dev") + "Redirect Refused, Not HTTPS: www.registry.google\r\n");
  EXPECT_EQ(run("busy.dev"), url("busy.dev") + "Domain Name: busy.dev\r\n");
  EXPECT_EQ(run("swamped.dev"),
            url("swamped.dev") + "RDAP Server Busy: Try Again In 120 Seconds\r\n");
  EXPECT_EQ(run("broken.dev"), url("broken.dev") + "RDAP Server Error: HTTP 500\r\n");
  EXPECT_EQ(run("garbled.dev"),
            url("garbled.dev") + "Malformed Answer From RDAP Server: www.registry.google\r\n");
  EXPECT_EQ(run("example.mismatch"),
            "[RDAP: https://rdap.wrongname.example/domain/example.mismatch]\r\n\r\n"
            "Failed To Verify RDAP Server: rdap.wrongname.example\r\n");
  EXPECT_EQ(boxes_.count(), 0u);
  EXPECT_EQ(peers_->requests(),
            (std::vector<std::string>{
                std::string(kRegistry) + "nosuch.dev", std::string(kRegistry) + "moved.dev",
                std::string(kRegistry) + "html.dev", std::string(kRegistry) + "plain.dev",
                std::string(kRegistry) + "busy.dev", std::string(kRegistry) + "busy.dev",
                std::string(kRegistry) + "swamped.dev", std::string(kRegistry) + "broken.dev",
                std::string(kRegistry) + "garbled.dev"}));
}

TEST_F(RdapPaneTest, AnUnreachablePort43ServerFallsBackToRdap) {
  // Refused on port 43; the bootstrap lists sh.
  EXPECT_EQ(run("example.sh"),
            "[Failed To Connect To Whois Server: whois.nic.sh]\r\n\r\n"
            "[RDAP: https://rdap.identitydigital.services/rdap/domain/example.sh]\r\n\r\n"
            "Domain Name: example.sh\r\n");
  EXPECT_EQ(boxes_.count(), 0u);

  // Neither answers: the port-43 failure is what the box says.
  EXPECT_EQ(run("example.tv"),
            "[Failed To Resolve Whois Server Name: whois.nic.tv]\r\n\r\n"
            "[RDAP: https://rdap.unreached.example/domain/example.tv]\r\n\r\n"
            "Failed To Connect To RDAP Server: rdap.unreached.example\r\n");
  EXPECT_EQ(boxes_.texts(),
            std::vector<std::string>{"Failed To Resolve Whois Server Name: whois.nic.tv"});

  // Not in the bootstrap: the default server on port 43, as before.
  EXPECT_EQ(run("example.zz"), "");
  EXPECT_EQ(boxes_.texts(),
            (std::vector<std::string>{"Failed To Resolve Whois Server Name: whois.nic.tv",
                                      "Failed To Resolve Whois Server Name: whois.iana.org"}));
}

TEST_F(RdapPaneTest, StopEndsASlowAnswerAtOnce) {
  start("slow.dev");
  ASSERT_TRUE(WaitUntil([&] { return peers_->requests().size() == 1; }, 10000));
  ServeEvents(100);  // the first half of the answer is on its way
  ClickControl(pane_, 1);
  EXPECT_EQ(button()->text(), "Start");
  EXPECT_TRUE(WaitUntil([&] { return peers_->requests().size() == 2; }, 10000));
  EXPECT_EQ(peers_->requests().back(), "gone " + std::string(kRegistry) + "slow.dev");
  ServeEvents(50);
  EXPECT_EQ(text(), "");
  EXPECT_EQ(boxes_.count(), 0u);
}

// The cache is refreshed from IANA (here the test's server under IANA's name) at most once a
// day, quietly when that fails; a damaged cache gives way to the shipped copy.
TEST_F(RdapPaneTest, TheBootstrapCacheIsRefreshedOnceADayAndADamagedOneGivesWay) {
  namespace fs = std::filesystem;
  std::ofstream(places_.cacheFile, std::ios::trunc) << "{\"services\": [";
  fs::last_write_time(places_.cacheFile, fs::file_time_type::clock::now() - std::chrono::hours(49));
  const auto load = [&] {
    const std::optional<RdapBootstrap> bootstrap = LoadRdapBootstrap(places_, RunToken());
    return bootstrap ? bootstrap->publication : "none";
  };
  EXPECT_EQ(load(), "2024-04-24T18:00:02Z");  // the refresh failed: the shipped copy
  EXPECT_EQ(load(), "2024-04-24T18:00:02Z");  // and is not tried again today
  ASSERT_EQ(peers_->requests(), std::vector<std::string>{"data.iana.org/rdap/dns.json"});

  fs::last_write_time(places_.cacheFile + ".tried",
                      fs::file_time_type::clock::now() - std::chrono::hours(25));
  EXPECT_EQ(load(), "2030-01-01T00:00:00Z");
  EXPECT_EQ(peers_->requests().size(), 2u);
  std::ifstream cache(places_.cacheFile), test(RdapTestData("bootstrap.json"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(cache), {}),
            std::string(std::istreambuf_iterator<char>(test), {}));
}
