#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shell/output_menu.h"

class QCheckBox;
class QPlainTextEdit;

// Control ids of the send dialog.
inline constexpr int kSendTextId = 1020;
inline constexpr int kSendHexId = 1066;
inline constexpr int kSendOkId = 1;
inline constexpr int kSendCancelId = 2;
inline constexpr int kCommonCommandsId = 1078;

// The modal "Send To :" dialog of the socket terminals: typed text, or hex digits sent as raw
// bytes, with protocol command templates. OK runs the opening module's send, which ends the
// dialog itself when it is done (or leaves it open).
class SendDialog : public QDialog {
  Q_OBJECT

 public:
  SendDialog(QWidget* owner, std::function<void(SendDialog&)> onOk);

  // The text as it is sent: line breaks as CR LF, at most 1000 characters.
  std::string text() const;
  bool hexChecked() const;

  // The bytes to send; nothing after showing "No Binary Data To Send!" (hex text without a
  // complete digit pair), the dialog staying open with its text.
  std::optional<std::vector<uint8_t>> dataToSend();

 private:
  void keepWithinLimit(int position, int added);
  void chooseCommand();

  QPlainTextEdit* edit_;
  QCheckBox* hex_;
  std::function<void(SendDialog&)> onOk_;
  bool limiting_ = false;
};

// Sets the edit's text to the template of a menu command and gives it the focus; any other id
// (0: the menu was dismissed) does nothing.
void InsertCommandTemplate(QWidget* dialog, int editId, int itemId);

// How the "Common Commands..." menu is shown; it returns the chosen command or 0. Tests
// replace it; an empty runner restores the real popup at the mouse position.
void SetCommandMenuRunner(MenuRunner runner);

// With "Echo Local" ticked in the pane: "#>[ECHO]" and the data in the pane's display mode.
void EchoSentData(QWidget* pane, const std::vector<uint8_t>& data);

// The pane's "Echo Local" box.
inline constexpr int kEchoLocalId = 1067;
