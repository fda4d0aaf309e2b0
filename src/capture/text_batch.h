#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

// Text a worker produces faster than a person reads, on its way to an output pane in batches:
// the worker adds text without waiting for the UI; the UI thread takes all that has gathered
// once per frame. When the UI falls behind, the worker waits for room (so the kernel's ring,
// not the program's memory, takes up the slack), bounded by its stop flag.
class TextBatch {
 public:
  explicit TextBatch(size_t roomBytes) : roomBytes_(roomBytes) {}

  void add(const std::string& text);
  // Waits while the pending text fills the room; false once `stop` is set.
  bool waitForRoom(const std::atomic<bool>& stop);
  // Wakes a worker waiting for room (after its stop flag was set).
  void wake();
  // The pending text in the order it was added, up to about `maxBytes`: whole lines while
  // there are several, so one frame's share stays small; the rest waits for the next take.
  std::string take(size_t maxBytes);

 private:
  const size_t roomBytes_;
  std::mutex mutex_;
  std::condition_variable roomMade_;
  std::string pending_;
};
