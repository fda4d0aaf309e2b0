#include "shell/message_presenter.h"

#include <QMessageBox>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "shell/main_window.h"
#include "shell/ui_thread.h"

namespace {

class BoxPresenter : public MessagePresenter {
 public:
  MessageAnswer present(const MessageRequest& r) override {
    QMessageBox box(IconOf(r.icon), r.caption, r.text, ButtonsOf(r.buttons), r.owner);
    switch (box.exec()) {
      case QMessageBox::Yes:
        return MessageAnswer::Yes;
      case QMessageBox::No:
        return MessageAnswer::No;
      case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
      default:
        return MessageAnswer::Ok;
    }
  }

 private:
  static QMessageBox::Icon IconOf(MessageIcon icon) {
    switch (icon) {
      case MessageIcon::Error:
        return QMessageBox::Critical;
      case MessageIcon::Warning:
        return QMessageBox::Warning;
      case MessageIcon::Information:
        return QMessageBox::Information;
      case MessageIcon::Question:
        return QMessageBox::Question;
      default:
        return QMessageBox::NoIcon;
    }
  }
  static QMessageBox::StandardButtons ButtonsOf(MessageButtons buttons) {
    switch (buttons) {
      case MessageButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
      case MessageButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
      case MessageButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      default:
        return QMessageBox::Ok;
    }
  }
};

std::atomic<MessagePresenter*> g_presenter{nullptr};

MessagePresenter& CurrentPresenter() {
  static BoxPresenter boxes;
  MessagePresenter* p = g_presenter.load();
  return p ? *p : boxes;
}

}  // namespace

void SetMessagePresenter(MessagePresenter* presenter) {
  g_presenter.store(presenter);
}

MessageAnswer ShowMessage(const MessageRequest& request) {
  MessageAnswer answer = MessageAnswer::Cancel;
  RunOnUiThread([&] {
    MessageRequest r = request;
    if (r.owner == nullptr) r.owner = MainWindowHandle();
    answer = CurrentPresenter().present(r);
  });
  return answer;
}

void ShowError(QWidget* owner, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::vector<char> text(size_t(needed > 0 ? needed : 0) + 1, '\0');
  if (needed > 0) std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);

  MessageRequest request;
  request.owner = owner;
  request.caption = QString::fromLatin1(kErrorCaption);
  request.text = QString::fromUtf8(text.data());
  request.icon = MessageIcon::Error;
  ShowMessage(request);
}
