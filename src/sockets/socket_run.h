#pragma once

#include <sys/types.h>

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/ip_address.h"
#include "shell/output_batch.h"
#include "sys/run_token.h"
#include "sys/net_event.h"

// What a socket terminal's pane and the worker of one run share. The pane keeps it while the
// run lasts, the worker until it ends, so neither outlives what it uses.
class SocketRun {
 public:
  SocketRun() = default;
  ~SocketRun();
  SocketRun(const SocketRun&) = delete;
  SocketRun& operator=(const SocketRun&) = delete;

  NetEvent event;
  std::atomic<bool> stop{false};
  // Cancelled when the pane goes: from then on the run's writes to the pane are dropped.
  const RunTokenPtr token = NewRunToken();

  // The run's socket. Only the worker opens, replaces and closes it; the lock keeps a send on
  // the UI thread from meeting a closed descriptor, or a reused one of another module.
  bool hasSocket() const;
  int socket() const;      // worker thread
  void setSocket(int fd);  // closes the one it replaces
  void closeSocket();

  // The stop request: the flag, then the signal, so a worker that took the signal away with
  // its events still sees the flag before it waits again.
  void requestStop();
  // The pane is going: nothing more of the run reaches it, and the worker stops.
  void abandon();

  struct SendResult {
    ssize_t sent = -1;
    int error = 0;  // errno when sent < 0
  };
  SendResult send(const std::vector<uint8_t>& data);
  SendResult sendTo(const std::vector<uint8_t>& data, const IpAddress& address, uint16_t port);

 private:
  mutable std::mutex mutex_;
  int fd_ = -1;
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

// A run begins with an IPv4 socket; an IPv6 address needs an IPv6 one in its place, opened by
// `open` and selected for `events`. False after "Failed To Create Socket!".
bool SocketForAddress(const IpAddress& address, int (*open)(IpAddress::Family), uint32_t events,
                      SocketRun& run, const PaneWriter& out);
