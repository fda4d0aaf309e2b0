#pragma once

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/ip_address.h"
#include "shell/output_batch.h"
#include "sockets/socket_service.h"
#include "sys/run_token.h"

// What a socket terminal's pane and the worker of one run share. The pane keeps it while the
// run lasts, the worker until it ends, so neither outlives what it uses.
class SocketRun {
 public:
  SocketRun() = default;
  SocketRun(const SocketRun&) = delete;
  SocketRun& operator=(const SocketRun&) = delete;

  // Cancelled by Close: it ends every wait of the worker, which still prints its last lines.
  const RunTokenPtr stop = NewRunToken();
  // Cancelled when the pane goes: from then on the run's writes to the pane are dropped.
  const RunTokenPtr token = NewRunToken();

  // The run's session, once it is open. Only the worker sets and closes it; the pane sends on
  // it meanwhile.
  bool hasSession() const;
  std::shared_ptr<SocketSession> session() const;
  void setSession(std::shared_ptr<SocketSession> session);
  void closeSession();

  void requestStop() { stop->cancel(); }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<SocketSession> session_;
};

// The worker's way to its pane: every write runs on the UI thread and is dropped once the
// pane is gone (its run's token cancelled) or the program is shutting down. What it prints goes
// to the output pane in batches (a peer may send faster than anyone reads); every other call
// comes after the text printed before it.
class PaneWriter {
 public:
  PaneWriter(QWidget* pane, RunTokenPtr token,
             OutputBatch::Overflow overflow = OutputBatch::Overflow::kWait);

  void print(std::string_view utf8) const;
  // Prints the text `make` returns when the pane has room for it now, without waiting; false
  // (and nothing made) when it has none.
  bool printIfRoom(const std::function<std::string()>& make) const;
  void render(uint32_t mode, const std::vector<uint8_t>& bytes) const;
  void enable(int controlId, bool enabled) const;
  // The error box, owned by the pane; the worker waits for it.
  void error(const std::string& text) const;
  // Runs `fn` with the pane on the UI thread; false when it was dropped.
  bool onUi(const std::function<void(QWidget* pane)>& fn) const;

 private:
  QWidget* pane_;
  RunTokenPtr token_;
  std::shared_ptr<OutputBatch> output_;  // shared by the copies the worker is handed
};
