#pragma once

#include <QPoint>
#include <functional>
#include <memory>

class QMenu;
class QPlainTextEdit;
class QWidget;

// Commands of the output context menu.
inline constexpr int kCmdClearOutput = 40049;
inline constexpr int kCmdCut = 40043;
inline constexpr int kCmdCopy = 40044;
inline constexpr int kCmdPaste = 40045;
inline constexpr int kCmdDelete = 40046;
inline constexpr int kCmdSelectAll = 40047;

// Which items are enabled, from the control's state.
struct OutputMenuEnables {
  bool cut = true;
  bool copy = true;
  bool paste = true;
  bool del = true;
};
OutputMenuEnables OutputMenuEnablesFor(bool hasSelection, bool clipboardHasText, bool readOnly);

// The output pane a context-menu request over `w` belongs to (the control or its viewport), or
// null when `w` is no output pane.
QPlainTextEdit* OutputPaneAt(QWidget* w);

// Builds the menu for the control; each action carries its command id as data.
std::unique_ptr<QMenu> BuildOutputMenu(QPlainTextEdit* edit);
// Carries out a chosen command on the control.
void ApplyOutputMenuCommand(QPlainTextEdit* edit, int command);
// Shows the menu at a screen point and carries out the chosen command.
void ShowOutputContextMenu(QPlainTextEdit* edit, const QPoint& globalPos);

// Shows a built menu whose actions carry their command ids as data, at a screen point; the
// chosen command or 0. The output panes' menu and the Netstat list's menu are shown by it.
int RunContextMenu(QMenu& menu, const QPoint& globalPos);

// How a built menu is shown; it returns the chosen command or 0. Tests replace it.
using MenuRunner = std::function<int(QMenu& menu, const QPoint& globalPos)>;
void SetOutputMenuRunner(MenuRunner runner);  // an empty runner restores the real popup
