#include "capture/text_batch.h"

#include <chrono>

void TextBatch::add(const std::string& text) {
  std::lock_guard lock(mutex_);
  pending_ += text;
}

bool TextBatch::waitForRoom(const std::atomic<bool>& stop) {
  std::unique_lock lock(mutex_);
  while (pending_.size() >= roomBytes_ && !stop) {
    // Bounded, so a stop whose wake-up came before this wait is still seen.
    roomMade_.wait_for(lock, std::chrono::milliseconds(50));
  }
  return !stop;
}

void TextBatch::wake() {
  roomMade_.notify_all();
}

std::string TextBatch::take(size_t maxBytes) {
  std::string text;
  {
    std::lock_guard lock(mutex_);
    const size_t cut =
        pending_.size() > maxBytes ? pending_.rfind('\n', maxBytes) : std::string::npos;
    if (cut == std::string::npos) {
      text.swap(pending_);
    } else {
      text = pending_.substr(0, cut + 1);
      pending_.erase(0, cut + 1);
    }
  }
  roomMade_.notify_all();
  return text;
}
