#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "shell/message_presenter.h"

// Records every message box instead of showing it and answers from a script (Ok, or Yes for
// questions, once the script is used up). Installed for its lifetime.
class RecordingPresenter : public MessagePresenter {
 public:
  RecordingPresenter() { SetMessagePresenter(this); }
  ~RecordingPresenter() override { SetMessagePresenter(nullptr); }

  MessageAnswer present(const MessageRequest& request) override {
    std::lock_guard lock(mutex_);
    boxes_.push_back(request);
    if (!answers_.empty()) {
      const MessageAnswer a = answers_.front();
      answers_.pop_front();
      return a;
    }
    return request.buttons == MessageButtons::Ok || request.buttons == MessageButtons::OkCancel
               ? MessageAnswer::Ok
               : MessageAnswer::Yes;
  }

  void answerNext(MessageAnswer a) {
    std::lock_guard lock(mutex_);
    answers_.push_back(a);
  }
  std::vector<MessageRequest> boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
  }
  size_t count() const {
    std::lock_guard lock(mutex_);
    return boxes_.size();
  }
  // Texts of the boxes so far, for compact assertions.
  std::vector<std::string> texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const MessageRequest& r : boxes_) out.push_back(r.text.toStdString());
    return out;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    boxes_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<MessageRequest> boxes_;
  std::deque<MessageAnswer> answers_;
};
