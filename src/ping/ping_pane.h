#pragma once

#include <future>
#include <string_view>

#include "shell/module_pane.h"
#include "sys/run_token.h"

class PingService;
class QComboBox;
class QRadioButton;

// Control ids of the pane (button 1 is Start / Stop, 1020 the output pane).
inline constexpr int kPingHostBox = 1024;
inline constexpr int kPingRadio = 1022;
inline constexpr int kTraceRadio = 1023;

// The Ping / Trace pane: one echo to a host, or a trace with one echo per time-to-live, run on a
// worker thread; button 1 toggles between "Start" and "Stop". The echoes go out from the host of
// `service`, whose echo service is loaded off the UI thread as the pane is made.
class PingPane : public ModulePane {
  Q_OBJECT

 public:
  PingPane(QWidget* mainWindow, PingService& service);
  ~PingPane() override;

  // Command 1 starts a run, or stops the one under way ("\tOperation Aborted").
  void command(int id) override;
  void closeModule() override { ClosePingModule(); }
  // The module's close operation: ends a run at once without printing.
  void ClosePingModule();
  // Ends a run, fills in the host, selects Ping and shows the pane; starts nothing.
  void sendTo(const QString& text);

  bool isRunning() const { return run_ != nullptr; }
  // Until the host has said whether it can send echoes (and a failure's box is up).
  bool loadingEchoService() const { return loadingEchoService_; }

 private:
  void startRun();
  void abandonRun();
  void runFinished(const RunTokenPtr& token);
  static void PingTraceWorker(PingPane* pane, PingService* service, std::shared_future<bool> loaded,
                              RunTokenPtr token);

  PingService& service_;
  std::shared_future<bool> echoServiceLoaded_;  // ready once the host has answered
  bool loadingEchoService_ = true;
  QComboBox* host_ = nullptr;
  QRadioButton* ping_ = nullptr;
  QRadioButton* trace_ = nullptr;
  RunTokenPtr run_;  // the run under way; null when idle
};

// Netstat's "Send To" entry, on the UI thread: `text` is a remote address (dotted, or IPv6).
void PingSendTo(std::string_view text);
