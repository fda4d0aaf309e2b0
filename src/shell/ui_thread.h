#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <type_traits>

#include "sys/run_token.h"

// Every widget belongs to the UI thread. Workers reach it only through these calls, which run
// the function there, one at a time and in order, while the worker waits.

bool IsUiThread();

// Runs `fn` on the UI thread and waits for it. On the UI thread it runs at once. Returns false
// (without running it) once the program is shutting down.
bool RunOnUiThread(const std::function<void()>& fn);

// The same for a write that belongs to a run: it is dropped when the token has been cancelled
// by the time the UI thread gets to it, so nothing of a stopped run is shown.
bool RunOnUiThread(const RunTokenPtr& token, const std::function<void()>& fn);

// Runs `fn` on the UI thread later, without waiting for it; dropped once the program is shutting
// down. For work that must not hold its caller up (see OutputBatch).
void PostToUiThread(std::function<void()> fn);

// A pause of the UI thread that still serves the workers' UI calls (user input waits), so a
// socket worker that is being stopped can print its last lines and put its controls back.
void PauseUi(int milliseconds);

// Runs `work` on a detached thread of its own, or here when the system gives none.
void StartDetached(std::function<void()> work);

// Runs `work` on a thread of its own, then `done` with its result on the UI thread, unless
// `owner` has gone by then: for a call to the inspected host that may wait (the helper, an
// agent), which the UI thread must never wait for. Without a thread to spare it runs here.
template <typename Work, typename Done>
void CallOffUiThread(QObject* owner, Work work, Done done) {
  using Result = std::invoke_result_t<Work>;
  const QPointer<QObject> guard(owner);
  StartDetached([guard, work = std::move(work), done = std::move(done)]() mutable {
    auto result = std::make_shared<Result>(work());
    PostToUiThread([guard, done = std::move(done), result] {
      if (guard) done(*result);
    });
  });
}

// Set once the panes are about to go: from then on no worker write reaches a widget.
void SetUiShuttingDown(bool shuttingDown = true);  // false only for tests that start over
bool UiShuttingDown();
