#pragma once

#include <QString>

class DnsService;
#include <string>

#include "shell/module_pane.h"
#include "sys/run_token.h"

// Control ids of the DNS pane.
inline constexpr int kDnsStartId = 1;
inline constexpr int kDnsQueryTypeId = 1029;
inline constexpr int kDnsServerId = 1025;
inline constexpr int kDnsGetDefaultId = 1028;
inline constexpr int kDnsHostId = 1024;

// The DNS module: "Normal Resolve" through the system resolver, or one question of a record
// type to a chosen server, printed by section. One lookup at a time runs on a worker thread;
// button 1 toggles between "Start" and "Stop".
class DnsPane : public ModulePane {
  Q_OBJECT

 public:
  DnsPane(QWidget* mainWindow, DnsService& host);
  ~DnsPane() override;

  void command(int id) override;
  void closeModule() override { CloseDnsModule(); }
  // The module's close operation: ends a running lookup at once.
  void CloseDnsModule();

  // Ends a running lookup, puts `text` into the host box and shows the pane; starts nothing.
  void sendTo(const QString& text);

  bool running() const { return run_ != nullptr; }
  // Whether the newest "Get Default" has not been answered yet.
  bool gettingDefault() const { return defaultAnswered_ != defaultAsked_; }

  // The worker's last act: the run is over and the button reads "Start" again.
  void finishLookup(const RunTokenPtr& run);

 private:
  void buildControls();
  void startLookup();
  // Ends the lookup at once: nothing it does afterwards is shown.
  void stopLookup();
  void showDefaultServer();
  // Every control's enabled state and the button text, from the mode and the run.
  void updateWidgets();

  DnsService& host_;
  RunTokenPtr run_;          // the running lookup, or null
  int defaultAsked_ = 0;     // "Get Default" asked so often; the newest answer shows
  int defaultAnswered_ = 0;  // the newest of those answered
};

// The Send To entry of the Netstat module: a dotted remote address for the host box.
void DnsSendTo(const char* text);
