#include "shell/output_menu.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>

namespace {

MenuRunner& Runner() {
  static MenuRunner runner;
  return runner;
}

bool ClipboardHasText() {
  const QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
  return data != nullptr && data->hasText() && !data->text().isEmpty();
}

void AddItem(QMenu& menu, const char* text, int command, bool enabled) {
  QAction* action = menu.addAction(QString::fromLatin1(text));
  action->setData(command);
  action->setEnabled(enabled);
}

}  // namespace

int RunContextMenu(QMenu& menu, const QPoint& globalPos) {
  if (Runner()) return Runner()(menu, globalPos);
  QAction* chosen = menu.exec(globalPos);
  return chosen ? chosen->data().toInt() : 0;
}

OutputMenuEnables OutputMenuEnablesFor(bool hasSelection, bool clipboardHasText, bool readOnly) {
  OutputMenuEnables e;
  e.copy = hasSelection;
  e.cut = hasSelection && !readOnly;
  e.paste = clipboardHasText;
  e.del = !readOnly;
  return e;
}

QPlainTextEdit* OutputPaneAt(QWidget* w) {
  if (w == nullptr) return nullptr;
  if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) return edit;
  auto* edit = qobject_cast<QPlainTextEdit*>(w->parentWidget());
  return (edit && edit->viewport() == w) ? edit : nullptr;
}

std::unique_ptr<QMenu> BuildOutputMenu(QPlainTextEdit* edit) {
  const OutputMenuEnables e = OutputMenuEnablesFor(edit->textCursor().hasSelection(),
                                                   ClipboardHasText(), edit->isReadOnly());
  auto menu = std::make_unique<QMenu>(QStringLiteral("rEdit"));
  AddItem(*menu, "Clear Output", kCmdClearOutput, true);
  menu->addSeparator();
  AddItem(*menu, "Cut", kCmdCut, e.cut);
  AddItem(*menu, "Copy", kCmdCopy, e.copy);
  AddItem(*menu, "Paste", kCmdPaste, e.paste);
  AddItem(*menu, "Delete", kCmdDelete, e.del);
  menu->addSeparator();
  AddItem(*menu, "Select All", kCmdSelectAll, true);
  return menu;
}

void ApplyOutputMenuCommand(QPlainTextEdit* edit, int command) {
  switch (command) {
    case kCmdCut:
      edit->cut();
      break;
    case kCmdCopy:
      edit->copy();
      break;
    case kCmdPaste:
      edit->paste();
      break;
    case kCmdDelete: {
      QTextCursor cursor = edit->textCursor();
      cursor.removeSelectedText();
      edit->setTextCursor(cursor);
      break;
    }
    case kCmdSelectAll:
      edit->selectAll();
      break;
    case kCmdClearOutput:
      edit->clear();
      break;
    default:
      break;
  }
}

void ShowOutputContextMenu(QPlainTextEdit* edit, const QPoint& globalPos) {
  std::unique_ptr<QMenu> menu = BuildOutputMenu(edit);
  const int command = RunContextMenu(*menu, globalPos);
  menu.reset();
  if (command != 0) ApplyOutputMenuCommand(edit, command);
}

void SetOutputMenuRunner(MenuRunner runner) {
  Runner() = std::move(runner);
}
