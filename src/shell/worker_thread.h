#pragma once

#include <functional>

class QWidget;

// Starts a run's worker on a thread of its own, detached. When the system gives no thread
// (too many threads, no memory), `failed` puts the module back to idle, then the error box
// "Failed To Create Worker Thread:  Code: %d" with the errno is shown, owned by `owner`, and
// the result is false.
bool StartWorkerThread(QWidget* owner, std::function<void()> worker,
                       const std::function<void()>& failed);
