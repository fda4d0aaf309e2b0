#include "shell/worker_thread.h"

#include <system_error>
#include <thread>

#include "shell/message_presenter.h"

bool StartWorkerThread(QWidget* owner, std::function<void()> worker,
                       const std::function<void()>& failed) {
  try {
    std::thread(std::move(worker)).detach();
    return true;
  } catch (const std::system_error& e) {
    failed();
    ShowError(owner, "Failed To Create Worker Thread:  Code: %d", e.code().value());
    return false;
  }
}
