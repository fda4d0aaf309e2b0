#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <functional>
#include <string>
#include <string_view>

#include "shell/controls.h"
#include "shell/module_pane.h"
#include "shell/output.h"
#include "sockets/send_dialog.h"
#include "test_util.h"

// Driving a socket terminal's pane by control id, as a user would.

// The names the terminals' tests look up, v6only.test with an IPv6 address alone, from a hosts
// file of the test's own for the rest of the scope.
#define SHOW_OWN_HOSTS()                                                      \
  if (!IsRoot()) GTEST_SKIP() << "a hosts file of the test's own needs root"; \
  const HostsFileShown ownHosts("127.0.0.1 localhost\n::1 v6only.test\n");    \
  ASSERT_TRUE(ownHosts.shown())

// Picks an address in a local address list.
inline void SelectAddress(const QWidget* pane, int comboId, const char* address) {
  auto* combo = FindControl<QComboBox>(pane, comboId);
  combo->setCurrentIndex(combo->findText(QString::fromLatin1(address)));
}

inline std::string Output(const QWidget* pane) {
  return GetOutputText(pane, kOutputPaneId);
}

inline bool WaitForOutput(const QWidget* pane, std::string_view text, int timeoutMs = 5000) {
  return WaitUntil([&] { return Output(pane).find(text) != std::string::npos; }, timeoutMs);
}

inline bool Enabled(const QWidget* pane, int id) {
  const QWidget* control = FindControlWidget(pane, id);
  return control != nullptr && control->isEnabled();
}

inline void SetText(const QWidget* pane, int id, const std::string& text) {
  SetControlText(pane, id, QString::fromStdString(text));
}

// Picks 127.0.0.1 in a local address list.
inline void SelectLoopback(const QWidget* pane, int comboId) {
  SelectAddress(pane, comboId, "127.0.0.1");
}

// Opens the pane's send dialog as Enter does (command 1) and runs `act` on it while it is open.
// True when `act` ended the dialog; otherwise it is cancelled afterwards.
inline bool WithSendDialog(ModulePane* pane, const std::function<void(SendDialog&)>& act) {
  bool ended = false;
  QTimer::singleShot(0, pane, [&] {
    SendDialog* dialog = pane->findChild<SendDialog*>();
    if (dialog == nullptr) return;
    act(*dialog);
    // A host name is looked up with the dialog open and its OK button off.
    auto* ok = FindControl<QAbstractButton>(dialog, kSendOkId);
    WaitUntil([&] { return !dialog->isVisible() || ok->isEnabled(); }, 30000);
    ended = !dialog->isVisible();
    if (!ended) dialog->reject();
  });
  // A dialog the test failed to reach is cancelled rather than left waiting for ever.
  QTimer::singleShot(10000, pane, [pane] {
    if (SendDialog* dialog = pane->findChild<SendDialog*>()) dialog->reject();
  });
  pane->command(1);
  return ended;
}

inline void TypeSendText(SendDialog& dialog, const std::string& text, bool hex = false) {
  FindControl<QPlainTextEdit>(&dialog, kSendTextId)->setPlainText(QString::fromStdString(text));
  FindControl<QAbstractButton>(&dialog, kSendHexId)->setChecked(hex);
}
