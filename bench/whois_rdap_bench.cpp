// Time to the printed answer: a name through RDAP from a local HTTPS server, and the same record
// through port 43 from a local whois server, in the Whois pane; beside the command-line tools
// users know for each: Debian's whois client for port 43 and curl for the RDAP request (Debian
// has no command-line RDAP client; curl fetches the JSON and renders nothing).
//
//   build/default/bench/whois_rdap_bench [runs]   (default 20; root: ports 443 and 43, and the
//                                                  private view of /etc/hosts and the CA store)
//
// The HTTPS server is the tests' (Python's http.server with ssl, tests/whois/rdap_test_server.*)
// behind www.registry.google and rdap.registrar.example on 127.0.80.1; the whois server is the
// tests' too, on 127.0.43.251. Each figure is the median of the runs, a fresh TLS connection each.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/local_services.h"
#include "rdap_test_server.h"
#include "shell/controls.h"
#include "shell/output.h"
#include "shell/startup.h"
#include "test_util.h"
#include "whois/whois_pane.h"
#include "whois/whois_query.h"
#include "whois/whois_service.h"
#include "whois_test_server.h"

namespace {

constexpr const char* kWhoisAddress = "127.0.43.251";
constexpr const char* kSolo = "https://www.registry.google/rdap/domain/solo.dev";

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "whois_rdap_bench: %s\n", why.c_str());
  std::exit(1);
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One query through the pane, from Start to the button's return; its output must be `expected`.
double PaneSeconds(WhoisPane* pane, const QString& query, const std::string& expected) {
  SetControlText(pane, kWhoisQueryBoxId, query);
  auto* start = FindControl<QAbstractButton>(pane, 1);
  QElapsedTimer clock;
  clock.start();
  pane->command(1);
  while (start->text() != QLatin1String("Start") && clock.elapsed() < 30000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  const double seconds = double(clock.nsecsElapsed()) / 1e9;
  const std::string text = GetOutputText(pane, kOutputPaneId);
  if (text != expected) Fail("the pane printed for " + query.toStdString() + ":\n" + text);
  return seconds;
}

// One run of a command line, as users run it; its output must hold `needle`.
double CommandSeconds(const std::string& command, const std::string& needle) {
  QElapsedTimer clock;
  clock.start();
  int code = -1;
  const std::string out = RunCommand(command + " 2>&1", &code);
  const double seconds = double(clock.nsecsElapsed()) / 1e9;
  if (code != 0 || out.find(needle) == std::string::npos) Fail(command + " gave:\n" + out);
  return seconds;
}

void Row(const char* what, const std::vector<double>& runs) {
  std::printf("  %-58s %8.2f ms\n", what, Median(runs) * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  PrepareApplication(app);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  if (!IsRoot()) Fail("needs root: ports 443 and 43, a private view of /etc/hosts");
  if (ChildProcess({"whois", "--version"}).wait(5000) != 0) {
    Fail("Debian's whois client cannot run (scripts/install-deps.sh test)");
  }
  if (ChildProcess({"curl", "--version"}).wait(5000) != 0) {
    Fail("curl cannot run (scripts/install-deps.sh test)");
  }

  TempDir cache;
  // The shipped copy is read on every lookup too, as in the program.
  RdapBootstrapPlaces places{cache.file("rdap-dns.json"),
                             std::string(PELORIN_SOURCE_TREE) + "/resources/rdap/dns.json",
                             {}};
  const std::unique_ptr<WhoisService> service = NewLocalWhoisService({nullptr, places});
  QWidget main;
  main.resize(1000, 700);
  auto* pane = new WhoisPane(&main, *service);
  main.show();
  pane->show();
  ServeEvents(100);

  // The registry's answer alone (its registrar link taken out), and with the registrar's.
  nlohmann::json solo = nlohmann::json::parse(FileText(RdapTestData("example.dev.registry.json")));
  solo["links"].erase(1);
  solo["ldhName"] = "solo.dev";
  nlohmann::json routes;
  routes["www.registry.google/rdap/domain/solo.dev"] = {{{"status", 200}, {"body", solo.dump()}}};
  routes["www.registry.google/rdap/domain/example.dev"] = {
      {{"status", 200}, {"file", RdapTestData("example.dev.registry.json")}}};
  routes["rdap.registrar.example/domain/example.dev"] = {
      {{"status", 200}, {"file", RdapTestData("example.dev.registrar.json")}}};
  RdapPeers peers(routes.dump());
  if (!peers.ready()) Fail("the HTTPS server of the tests cannot start (python3, openssl)");

  std::ofstream(places.cacheFile) << FileText(RdapTestData("bootstrap.json"));

  // The first RDAP run gives the text that port 43 then serves, so both print the same record.
  std::vector<double> rdapSolo, rdapBoth, port43, whoisClient, curlSolo;
  ServeEvents(10);
  SetControlText(pane, kWhoisQueryBoxId, QStringLiteral("solo.dev"));
  pane->command(1);
  if (!WaitUntil([&] { return FindControl<QAbstractButton>(pane, 1)->text() == "Start"; }, 30000)) {
    Fail("the first RDAP query did not end");
  }
  const std::string soloText = GetOutputText(pane, kOutputPaneId);
  if (soloText.rfind("[RDAP: ", 0) != 0) Fail("the RDAP query printed:\n" + soloText);
  const std::string record = soloText.substr(soloText.find("\r\n\r\n") + 4);
  SetControlText(pane, kWhoisQueryBoxId, QStringLiteral("example.dev"));
  pane->command(1);
  WaitUntil([&] { return FindControl<QAbstractButton>(pane, 1)->text() == "Start"; }, 30000);
  const std::string bothText = GetOutputText(pane, kOutputPaneId);

  TestWhoisServer whois(kWhoisAddress, {{record}, 0, WhoisServerScript::End::Close});
  if (!whois.listening()) Fail(std::string("the whois server cannot listen on ") + kWhoisAddress);

  for (int i = 0; i < runs; ++i) {
    rdapSolo.push_back(PaneSeconds(pane, QStringLiteral("solo.dev"), soloText));
    rdapBoth.push_back(PaneSeconds(pane, QStringLiteral("example.dev"), bothText));
    curlSolo.push_back(CommandSeconds(std::string("curl -sS --fail ") + kSolo, "\"solo.dev\""));
    whoisClient.push_back(CommandSeconds(std::string("whois -h ") + kWhoisAddress + " solo.dev",
                                         "Registrar IANA ID: 292"));
  }
  FindControl<QAbstractButton>(pane, kWhoisCustomCheckId)->click();
  SetControlText(pane, kWhoisServerBoxId, QString::fromLatin1(kWhoisAddress));
  for (int i = 0; i < runs; ++i) port43.push_back(PaneSeconds(pane, "solo.dev", record));

  std::printf("Time to the printed answer, median of %d runs (%zu-byte record)\n", runs,
              record.size());
  Row("Whois pane, RDAP: registry (bootstrap read, TLS, render)", rdapSolo);
  Row("Whois pane, RDAP: registry, then its registrar", rdapBoth);
  Row("curl: the registry's RDAP JSON alone, not rendered", curlSolo);
  Row("Whois pane, port 43: the same record", port43);
  Row("whois (Debian's client) -h: the same record on port 43", whoisClient);
  delete pane;
  return 0;
}
