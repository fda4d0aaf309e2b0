#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "shell/ui_thread.h"
#include "shell/worker_thread.h"

class QWidget;

// The run of a pane's worker (a socket terminal, a capture): at most one at a time, on a thread of
// its own. Stop asks the worker to end wherever it waits and gives it 200 ms to print its last
// lines; the run ends once, on the UI thread, by the worker's last step or because the system
// gave no thread; a pane that goes first cuts its run off and stops it.
//
// `Run` has `token` (once cancelled nothing of the run reaches the pane) and `requestStop()`.
template <typename Run>
class PaneRun {
 public:
  // `showRunning(running)` sets the pane's controls for a run or for idle; `atEnd(run)` sees
  // the run last, before the pane is idle again.
  PaneRun(QWidget* pane, std::function<void(bool running)> showRunning,
          std::function<void(Run&)> atEnd = {})
      : pane_(pane), showRunning_(std::move(showRunning)), atEnd_(std::move(atEnd)) {}
  ~PaneRun() {
    if (!run_) return;
    run_->token->cancel();
    run_->requestStop();
  }
  PaneRun(const PaneRun&) = delete;
  PaneRun& operator=(const PaneRun&) = delete;

  bool running() const { return run_ != nullptr; }
  // The current run; only while running().
  Run* operator->() const { return run_.get(); }
  explicit operator bool() const { return running(); }

  // A worker for a new run: it shares the run and calls `ended` on the UI thread as its last step.
  using MakeWorker = std::function<std::function<void()>(const std::shared_ptr<Run>& run,
                                                         std::function<void()> ended)>;

  // Starts a run unless one is running.
  void start(const MakeWorker& makeWorker) {
    if (run_) return;
    run_ = std::make_shared<Run>();
    showRunning_(true);
    std::function<void()> ended = [this, run = run_.get()] { end(run); };
    StartWorkerThread(pane_, makeWorker(run_, std::move(ended)), [this] { end(run_.get()); });
  }

  // The request reaches the run whatever it is doing, even before its worker has a socket.
  void stop() {
    if (!run_) return;
    run_->requestStop();
    PauseUi(200);
  }

  // Stops the run and ends it now if it did not end in time: nothing more of it is shown.
  void stopAndCutOff() {
    stop();
    if (!run_) return;
    run_->token->cancel();
    end(run_.get());
  }

 private:
  void end(const Run* run) {
    if (run_.get() != run || !run_) return;
    if (atEnd_) atEnd_(*run_);
    run_.reset();
    showRunning_(false);
  }

  QWidget* pane_;
  std::function<void(bool)> showRunning_;
  std::function<void(Run&)> atEnd_;
  std::shared_ptr<Run> run_;
};
