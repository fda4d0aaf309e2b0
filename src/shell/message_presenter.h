#pragma once

#include <QString>

class QWidget;

enum class MessageIcon { None, Error, Warning, Information, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

// One modal message box. A null owner means the main window (none before it exists).
struct MessageRequest {
  QWidget* owner = nullptr;
  QString caption;
  QString text;
  MessageIcon icon = MessageIcon::None;
  MessageButtons buttons = MessageButtons::Ok;
};

// Every message box of the program goes through the current presenter. The default one shows
// a QMessageBox; tests install one that records the boxes and answers from a script.
class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  virtual MessageAnswer present(const MessageRequest& request) = 0;
};

// Installs a presenter (not owned); nullptr restores the default.
void SetMessagePresenter(MessagePresenter* presenter);

// Shows the box on the UI thread from any thread and waits for the user's answer. Once the
// program is shutting down, a worker's box is not shown and the answer is Cancel.
MessageAnswer ShowMessage(const MessageRequest& request);

inline constexpr const char* kErrorCaption = "Pelorin Error!";
inline constexpr const char* kPlainCaption = "Pelorin";

// printf-style text in a box with the caption "Pelorin Error!", the error icon and one OK
// button. The calling thread waits until the box is dismissed.
void ShowError(QWidget* owner, const char* format, ...) __attribute__((format(printf, 2, 3)));
