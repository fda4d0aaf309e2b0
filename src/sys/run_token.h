#pragma once

#include <atomic>
#include <memory>

// One run of a worker. Stop, Send To and close cancel it; the UI side then drops every write
// of the run, and the worker's blocking waits (poll) also watch wakeFd() so they end at once.
class RunToken {
 public:
  RunToken();
  ~RunToken();
  RunToken(const RunToken&) = delete;
  RunToken& operator=(const RunToken&) = delete;

  void cancel();
  bool cancelled() const { return cancelled_.load(std::memory_order_acquire); }
  // Becomes readable when the run is cancelled; -1 if no descriptor could be made, in which
  // case waits must poll cancelled() with a bounded time-out.
  int wakeFd() const { return wakeFd_; }
  // The errno of the descriptor that could not be made; 0 when wakeFd() is one.
  int createError() const { return createError_; }

 private:
  std::atomic<bool> cancelled_{false};
  int wakeFd_ = -1;
  int createError_ = 0;
};

using RunTokenPtr = std::shared_ptr<RunToken>;

inline RunTokenPtr NewRunToken() {
  return std::make_shared<RunToken>();
}
