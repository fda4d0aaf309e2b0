#include "shell/ui_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <system_error>
#include <thread>

namespace {

std::atomic<bool> g_shuttingDown{false};

// Target of the workers' queued calls. It lives as long as the process, so a worker that
// outlives the panes never posts to a destroyed object.
QObject* Dispatcher() {
  static QObject* dispatcher = [] {
    auto* o = new QObject;
    o->moveToThread(QCoreApplication::instance()->thread());
    return o;
  }();
  return dispatcher;
}

}  // namespace

bool IsUiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

bool RunOnUiThread(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return true;
  }
  if (g_shuttingDown.load() || QCoreApplication::instance() == nullptr) return false;
  QMetaObject::invokeMethod(
      Dispatcher(),
      [&fn] {
        if (!g_shuttingDown.load()) fn();
      },
      Qt::BlockingQueuedConnection);
  return true;
}

bool RunOnUiThread(const RunTokenPtr& token, const std::function<void()>& fn) {
  bool ran = false;
  RunOnUiThread([&] {
    if (token && token->cancelled()) return;
    fn();
    ran = true;
  });
  return ran;
}

void PostToUiThread(std::function<void()> fn) {
  if (g_shuttingDown.load() || QCoreApplication::instance() == nullptr) return;
  QMetaObject::invokeMethod(
      Dispatcher(),
      [fn = std::move(fn)] {
        if (!g_shuttingDown.load()) fn();
      },
      Qt::QueuedConnection);
}

void StartDetached(std::function<void()> work) {
  try {
    std::thread(work).detach();
  } catch (const std::system_error&) {
    work();
  }
}

void PauseUi(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void SetUiShuttingDown(bool shuttingDown) {
  g_shuttingDown.store(shuttingDown);
}
bool UiShuttingDown() {
  return g_shuttingDown.load();
}
