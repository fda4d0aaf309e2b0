#pragma once

#include <string>

#include "shell/module_pane.h"
#include "sys/run_token.h"

class WhoisService;

// Controls of the Whois pane.
inline constexpr int kWhoisQueryBoxId = 1024;
inline constexpr int kWhoisServerBoxId = 1025;
inline constexpr int kWhoisCustomCheckId = 1033;

// What one query needs from the pane, read when it starts.
struct WhoisRequest {
  std::string text;  // the query box, at most 299 bytes
  bool customServerChecked = false;
  std::string customServerText;  // only read when checked
};

// The Whois pane: a domain name or IPv4 address, an optional server of the user's own, and the
// answer. One query at a time runs on a worker thread; button 1 toggles Start and Stop. The
// exchanges go out from the host of `service`.
class WhoisPane : public ModulePane {
 public:
  WhoisPane(QWidget* mainWindow, WhoisService& service);
  ~WhoisPane() override;

  void command(int id) override;
  void closeModule() override { CloseWhoisModule(); }
  // The module's close operation: ends a running query at once.
  void CloseWhoisModule();

  // The worker's last step, on the UI thread, once the answer (if any) has been printed: shows
  // it from its start.
  void finishQuery(const RunTokenPtr& token, bool answered);

 private:
  void buildControls();
  void startQuery();
  void stopQuery();

  WhoisService& service_;
  RunTokenPtr run_;  // the running query; null when idle
};

// The worker thread's body: one query, then finishQuery on the UI thread unless stopped.
void WhoisWorker(WhoisPane* pane, WhoisService* service, WhoisRequest request, RunTokenPtr token);
