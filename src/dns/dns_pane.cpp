#include "dns/dns_pane.h"

#include <arpa/inet.h>

#include <QComboBox>
#include <QGroupBox>
#include <QPointer>
#include <QPushButton>
#include <vector>

#include "base/format_bounded.h"
#include "dns/dns_format.h"
#include "dns/dns_service.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/message_presenter.h"
#include "shell/module_table.h"
#include "shell/output.h"
#include "shell/ui_thread.h"
#include "shell/worker_thread.h"

namespace {

// The settings of every record query.
constexpr uint16_t kQueryId = 1234;
constexpr uint32_t kQueryTimeoutMs = 2000;
constexpr int kRecordCapacity = 50;
constexpr uint32_t kUnusableServer = 0xFFFFFFFF;  // 255.255.255.255

// The module's pane, for the Send To entry.
QPointer<DnsPane> g_dnsPane;

// One lookup: its token and the pane it prints to. The worker reaches the pane only through
// RunOnUiThread with the token, so nothing of a stopped run is shown.
struct DnsRun {
  RunTokenPtr token;
  DnsPane* pane;
  DnsService* host;  // outlives every run
};

QComboBox* Combo(const DnsPane* pane, int id) {
  return FindControl<QComboBox>(pane, id);
}

// Host entries stand in alphabetical order, ignoring case, as in a sorted list.
void AddToSortedHistory(QComboBox* box) {
  const int before = box->count();
  AddToHistory(box);
  if (box->count() == before) return;
  const QString text = box->itemText(before);
  int at = 0;
  while (at < before && box->itemText(at).compare(text, Qt::CaseInsensitive) <= 0) ++at;
  if (at == before) return;
  const QString typed = box->currentText();
  box->removeItem(before);
  box->insertItem(at, text);
  box->setEditText(typed);
}

void Print(const DnsRun& run, const std::string& text) {
  AppendOutput(run.token, run.pane, kOutputPaneId, text);
}

// Puts the server to ask into the request: a dotted address or an IPv6 address (with its
// interface after "%") as typed, else the first address of the name. An unusable text shows
// "Invalid DNS Server!" and gives 255.255.255.255, which the network refuses, so a record query
// then ends in "Query Failed!".
void ReadDnsServer(const DnsRun& run, DnsQuery& request) {
  std::string text;
  RunOnUiThread(run.token, [&] {
    text = ReadControlText(run.pane, kDnsServerId);
    if (!text.empty()) AddToHistory(Combo(run.pane, kDnsServerId));
  });
  in_addr_t server = inet_addr(text.c_str());
  std::optional<DnsIpv6Server> ipv6 = run.host->parseIpv6Server(text);
  char resolved[kInputCapacity];
  if (server == INADDR_NONE && !ipv6 &&
      run.host->resolveHost(text.c_str(), resolved, sizeof resolved, run.token.get())) {
    server = inet_addr(resolved);
    if (const std::optional<IpAddress> address = ParseIpv6Address(resolved)) {
      ipv6 = DnsIpv6Server{*address, 0};
    }
  }
  request.server = server;
  request.serverIpv6 = ipv6;
  if (server != INADDR_NONE || ipv6) return;
  RunOnUiThread(run.token, [&] { ShowError(run.pane, "Invalid DNS Server!"); });
  request.server = kUnusableServer;
}

void RunNormalResolve(const DnsRun& run, const std::string& host) {
  Print(run, FormatLine(kLineCapacity, "Resolving :\r\n\r\n\tResolving Domain Name: %s\r\n\r\n",
                        host.c_str()));
  char result[kInputCapacity];
  if (run.host->resolveHost(host.c_str(), result, sizeof result, run.token.get())) {
    Print(run, FormatLine(kLineCapacity, "\t%s", result));
  } else {
    Print(run, "\tResolution Failed!");
  }
}

void RunDnsQuery(const DnsRun& run, DnsQuery query, const std::string& host, int mode) {
  const uint16_t type = DnsQueryTypeOfMode(mode);
  if (type == 0) return;
  query.queryId = kQueryId;
  query.queryType = type;
  query.name = DnsQueryName(type, host);
  query.recursionDesired = true;
  query.timeoutMs = kQueryTimeoutMs;
  query.recordCapacity = kRecordCapacity;

  Print(run, FormatLine(kLineCapacity, "[DNS QUERY: %s]\r\n\r\n", host.c_str()));
  const DnsAnswer answer = run.host->exchange(query, *run.token);
  if (answer.result != kDnsOk) {
    Print(run, "\tQuery Failed!");
    return;
  }
  std::string text;
  if (answer.responseCode != 0) {
    text = FormatLine(kLineCapacity, "\tFailed Code: %u\r\n\r\n", unsigned{answer.responseCode});
  }
  text += FormatDnsSections(answer.records.data(),
                            std::min(answer.recordCount, int32_t(answer.records.size())));
  Print(run, text);
}

// One lookup, on its own thread.
void DnsWorker(DnsRun run) {
  DnsQuery query;  // its server, for a record query
  ReadDnsServer(run, query);
  std::string host;
  int mode = -1;
  RunOnUiThread(run.token, [&] {
    host = ReadControlText(run.pane, kDnsHostId);
    if (host.empty()) return;
    AddToSortedHistory(Combo(run.pane, kDnsHostId));
    mode = Combo(run.pane, kDnsQueryTypeId)->currentIndex();
    if (mode >= 0) SetControlText(run.pane, kOutputPaneId, QString());
  });
  if (!host.empty() && mode == kNormalResolveMode) {
    RunNormalResolve(run, host);
  } else if (!host.empty() && mode > kNormalResolveMode) {
    RunDnsQuery(run, query, host, mode);
  }
  RunOnUiThread(run.token, [&] { run.pane->finishLookup(run.token); });
}

}  // namespace

DnsPane::DnsPane(QWidget* mainWindow, DnsService& host) : ModulePane(mainWindow), host_(host) {
  g_dnsPane = this;
  buildControls();
  showDefaultServer();
  updateWidgets();
}

DnsPane::~DnsPane() {
  stopLookup();
}

void DnsPane::buildControls() {
  const auto group = [this](const char* title, int x, int y, int w, int h, Follow follow) {
    auto* box = new QGroupBox(QString::fromLatin1(title), this);
    place(box, x, y, w, h, follow);
    return box;
  };
  QGroupBox* typeGroup = group("Query Type :", 7, 1, 134, 31, kStay);
  QGroupBox* serverGroup = group("DNS Server :", 178, 0, 203, 31, kGrowWidth);
  QGroupBox* hostGroup = group("Host :", 7, 31, 374, 34, kGrowWidth);

  auto* modes = new QComboBox(this);
  SetControlId(modes, kDnsQueryTypeId);
  for (int i = 0; i < kDnsModeCount; ++i) modes->addItem(QString::fromLatin1(DnsModeLabel(i)));
  modes->setCurrentIndex(kNormalResolveMode);
  place(modes, 17, 14, 115, 12);
  PutInGroup(modes, typeGroup);
  connect(modes, &QComboBox::currentIndexChanged, this, [this] { updateWidgets(); });

  auto* server = new QComboBox(this);
  SetControlId(server, kDnsServerId);
  server->setEditable(true);
  server->setInsertPolicy(QComboBox::NoInsert);
  place(server, 192, 11, 111, 12, kGrowWidth);
  PutInGroup(server, serverGroup);

  auto* getDefault = new QPushButton(QStringLiteral("Get Default"), this);
  SetControlId(getDefault, kDnsGetDefaultId);
  place(getDefault, 314, 11, 59, 12, kMoveRight);
  connect(getDefault, &QPushButton::clicked, this, [this] { command(kDnsGetDefaultId); });

  auto* host = new QComboBox(this);
  SetControlId(host, kDnsHostId);
  host->setEditable(true);
  host->setInsertPolicy(QComboBox::NoInsert);
  place(host, 21, 44, 220, 12, kGrowWidth);
  PutInGroup(host, hostGroup);

  auto* start = new QPushButton(QStringLiteral("Start"), this);
  SetControlId(start, kDnsStartId);
  start->setDefault(true);
  place(start, 279, 42, 50, 14, kMoveRight);
  connect(start, &QPushButton::clicked, this, [this] { command(kDnsStartId); });

  MakeOutputPane(this, kOutputPaneId, QRect(7, 71, 374, 192), true, OutputScrollBars::Both, true);
}

void DnsPane::command(int id) {
  if (id == kDnsStartId) {
    if (running()) {
      stopLookup();
    } else {
      startLookup();
    }
  } else if (id == kDnsGetDefaultId) {
    showDefaultServer();
  }
}

void DnsPane::CloseDnsModule() {
  stopLookup();
}

void DnsPane::sendTo(const QString& text) {
  stopLookup();
  SetControlText(this, kDnsHostId, text);
  ShowModule(kDnsButton);
}

void DnsPane::startLookup() {
  run_ = NewRunToken();
  updateWidgets();
  StartWorkerThread(
      this, [run = DnsRun{run_, this, &host_}] { DnsWorker(run); },
      [this] {
        run_.reset();
        updateWidgets();
      });
}

void DnsPane::stopLookup() {
  if (!run_) return;
  run_->cancel();
  run_.reset();
  updateWidgets();
}

void DnsPane::finishLookup(const RunTokenPtr& run) {
  if (run_ != run) return;
  run_.reset();
  updateWidgets();
}

void DnsPane::showDefaultServer() {
  // The host's configuration is read off the UI thread; the text shows when it comes, unless
  // the pane has gone or asked again meanwhile.
  const int asked = ++defaultAsked_;
  CallOffUiThread(
      this, [host = &host_] { return host->defaultServerText(); },
      [this, asked](const std::string& text) {
        if (asked != defaultAsked_) return;
        defaultAnswered_ = asked;
        SetControlText(this, kDnsServerId, QString::fromStdString(text));
      });
}

void DnsPane::updateWidgets() {
  const bool recordMode = Combo(this, kDnsQueryTypeId)->currentIndex() != kNormalResolveMode;
  EnableControl(this, kDnsServerId, recordMode);
  EnableControl(this, kDnsGetDefaultId, recordMode);
  SetControlText(this, kDnsStartId, running() ? QStringLiteral("Stop") : QStringLiteral("Start"));
}

void DnsSendTo(const char* text) {
  if (g_dnsPane) g_dnsPane->sendTo(QString::fromUtf8(text != nullptr ? text : ""));
}
