#include "ping/ping_pane.h"

#include <arpa/inet.h>

#include <QComboBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <chrono>
#include <memory>
#include <optional>

#include "ping/ping_service.h"
#include "ping/ping_trace.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/message_presenter.h"
#include "shell/output.h"
#include "shell/ui_thread.h"
#include "shell/worker_thread.h"

namespace {

constexpr int kStartButton = 1;

PingPane* g_pingPane = nullptr;  // the module's one pane, for the Send To entry

// An IPv4 address in any form inet_aton reads, or an IPv6 address.
std::optional<IpAddress> AddressOfText(const char* text) {
  in_addr parsed{};
  if (inet_aton(text, &parsed) != 0) return IpAddress::Ipv4(parsed.s_addr);
  return ParseIpv6Address(text);
}

// The destination of a host text: an address as typed, or the address a name resolves to on the
// host (its first IPv4 one, else its first IPv6 one); nothing when the name does not resolve.
std::optional<IpAddress> DestinationOf(PingService& service, const std::string& host,
                                       const RunToken& token) {
  if (const std::optional<IpAddress> address = AddressOfText(host.c_str())) return address;
  char resolved[kInputCapacity];
  if (service.resolveHost(host.c_str(), resolved, sizeof resolved, &token) == 0) {
    return std::nullopt;
  }
  return AddressOfText(resolved);
}

// Waits on a worker until the host has said whether it can send echoes, or the run is stopped.
void AwaitLoaded(const std::shared_future<bool>& loaded, const RunToken& token) {
  while (loaded.valid() && !token.cancelled() &&
         loaded.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
  }
}

}  // namespace

PingPane::PingPane(QWidget* mainWindow, PingService& service)
    : ModulePane(mainWindow), service_(service) {
  // In their Tab order, as they read from left to right.
  auto* group = new QGroupBox(QStringLiteral("Host / Address :"), this);
  place(group, 7, 0, 113, 28, kGrowWidth);
  host_ = new QComboBox(this);
  host_->setEditable(true);
  host_->setInsertPolicy(QComboBox::NoInsert);  // the history is kept by the runs
  SetControlId(host_, kPingHostBox);
  place(host_, 17, 9, 94, 13, kGrowWidth);
  PutInGroup(host_, group);

  ping_ = new QRadioButton(QStringLiteral("Ping"), this);
  SetControlId(ping_, kPingRadio);
  place(ping_, 144, 12, 29, 10, kMoveRight);
  trace_ = new QRadioButton(QStringLiteral("TraceRoute"), this);
  SetControlId(trace_, kTraceRadio);
  place(trace_, 193, 12, 72, 10, kMoveRight);

  auto* start = new QPushButton(QStringLiteral("Start"), this);
  SetControlId(start, kStartButton);
  start->setDefault(true);
  place(start, 277, 6, 86, 17, kMoveRight);
  connect(start, &QPushButton::clicked, this, [this] { command(kStartButton); });

  MakeOutputPane(this, kOutputPaneId, QRect(7, 35, 374, 228), true, OutputScrollBars::Both, true);

  g_pingPane = this;
  // The host may have to ask its helper: the window does not wait for that.
  auto loaded = std::make_shared<std::promise<bool>>();
  echoServiceLoaded_ = loaded->get_future().share();
  CallOffUiThread(
      this,
      [service = &service_, loaded] {
        const bool found = service->loadEchoService();
        loaded->set_value(found);
        return found;
      },
      [this](bool found) {
        loadingEchoService_ = false;
        if (!found) ShowError(MainWindowHandle(), "Failed To Load Ping Library!");
      });
  ping_->setChecked(true);
  setFocusProxy(host_);
}

PingPane::~PingPane() {
  abandonRun();
  if (g_pingPane == this) g_pingPane = nullptr;
}

void PingPane::command(int id) {
  if (id != kStartButton) return;
  if (run_ != nullptr) {
    AppendOutput(this, kOutputPaneId, std::string_view("\tOperation Aborted"));
    abandonRun();
    return;
  }
  startRun();
}

void PingPane::ClosePingModule() {
  abandonRun();
}

void PingPane::sendTo(const QString& text) {
  abandonRun();
  SetControlText(this, kPingHostBox, text);
  ping_->setChecked(true);
  ShowModule(kPingButton);
}

void PingPane::startRun() {
  run_ = NewRunToken();
  StartWorkerThread(
      this,
      [this, loaded = echoServiceLoaded_, token = run_] {
        PingTraceWorker(this, &service_, loaded, token);
      },
      [this] { run_.reset(); });
}

// The run is left to end by itself: its token is cancelled, so its waits end and nothing it
// writes from now on reaches the pane.
void PingPane::abandonRun() {
  if (run_ == nullptr) return;
  run_->cancel();
  run_.reset();
  SetControlText(this, kStartButton, QStringLiteral("Start"));
}

void PingPane::runFinished(const RunTokenPtr& token) {
  if (run_ == token) run_.reset();
  SetControlText(this, kStartButton, QStringLiteral("Start"));
}

void PingPane::PingTraceWorker(PingPane* pane, PingService* service,
                               std::shared_future<bool> loaded, RunTokenPtr token) {
  const auto print = [&](const std::string& text) {
    AppendOutput(token, pane, kOutputPaneId, text);
  };
  std::string host;
  bool ping = true;
  const bool started = RunOnUiThread(token, [&] {
    SetControlText(pane, kStartButton, QStringLiteral("Stop"));
    host = ReadControlText(pane, kPingHostBox);
    ping = pane->ping_->isChecked();
  });
  if (!started) return;

  if (host.empty()) {
    // Through the token: a run stopped meanwhile shows nothing more, not even this box.
    RunOnUiThread(token, [&] { ShowError(pane, "No Host Specified!"); });
  } else {
    RunOnUiThread(token, [&] {
      AddToHistory(pane->host_);
      if (auto* output = FindControl<QPlainTextEdit>(pane, kOutputPaneId)) output->clear();
    });
    print("\r\nResolving Host: ");
    print(host);
    print("...\r\n");
    const std::optional<IpAddress> address = DestinationOf(*service, host, *token);
    if (!address) {
      print("\tFailed To Resolve Hostname");
    } else {
      print("\t[" + address->text() + "]\r\n\r\n");
      // An echo waits, as part of its wait, for the host to say whether it can send echoes.
      if (ping) {
        RunPing(
            [&] {
              AwaitLoaded(loaded, *token);
              const EchoAnswer echo = service->sendEcho(*address, kPingTtl, kPingTimeoutMs, *token);
              return echo.answered == 1 ? echo.result.roundTripMs : -1;
            },
            print);
      } else {
        RunTrace(
            [&](int ttl, uint32_t timeoutMs, EchoResult* result, IpAddress* answerer) {
              AwaitLoaded(loaded, *token);
              const EchoAnswer echo = service->sendEcho(*address, ttl, timeoutMs, *token);
              *result = echo.result;
              *answerer = echo.answerer;
              return echo.answered;
            },
            print, [&] { return token->cancelled(); });
      }
    }
  }
  RunOnUiThread(token, [&] { pane->runFinished(token); });
}

void PingSendTo(std::string_view text) {
  if (g_pingPane != nullptr) {
    g_pingPane->sendTo(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  }
}
