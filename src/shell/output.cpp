#include "shell/output.h"

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "shell/controls.h"
#include "shell/dialog_units.h"
#include "shell/message_presenter.h"
#include "shell/ui_thread.h"

QPlainTextEdit* MakeOutputPane(QWidget* pane, int id, const QRect& dlu, bool readOnly,
                               OutputScrollBars scrollBars, bool fixedFont) {
  auto* edit = new QPlainTextEdit(pane);
  SetControlId(edit, id);
  edit->setGeometry(Dlu().rect(dlu.x(), dlu.y(), dlu.width(), dlu.height()));
  edit->setReadOnly(readOnly);
  edit->setUndoRedoEnabled(!readOnly);
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);  // scrolls horizontally as text goes on
  edit->setTabChangesFocus(true);
  const auto policy = [](bool on) { return on ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff; };
  edit->setHorizontalScrollBarPolicy(policy(scrollBars == OutputScrollBars::Both));
  edit->setVerticalScrollBarPolicy(policy(scrollBars != OutputScrollBars::None));
  if (fixedFont) edit->setFont(GetFixedFont());
  // Tab stops every half inch, so tabbed columns line up as users know them.
  edit->setTabStopDistance(edit->logicalDpiX() / 2.0);
  return edit;
}

void AppendOutput(QWidget* pane, int controlId, const QString& text) {
  RunOnUiThread([&] {
    auto* edit = FindControl<QPlainTextEdit>(pane, controlId);
    if (edit == nullptr) return;
    QTextCursor cursor(edit->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    edit->setTextCursor(cursor);
  });
}

void AppendOutput(QWidget* pane, int controlId, std::string_view utf8) {
  AppendOutput(pane, controlId, QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
}

void AppendOutput(const RunTokenPtr& token, QWidget* pane, int controlId, std::string_view utf8) {
  const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
  RunOnUiThread(token, [&] { AppendOutput(pane, controlId, text); });
}

std::string GetOutputText(const QWidget* pane, int controlId) {
  std::string text;
  RunOnUiThread([&] {
    auto* edit = FindControl<QPlainTextEdit>(pane, controlId);
    if (edit == nullptr) return;
    QString plain = edit->toPlainText();
    plain.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    text = plain.toUtf8().toStdString();
  });
  return text;
}

const QFont& GetFixedFont() {
  static const QFont font = [] {
    QFont f(QStringLiteral("Courier New"));
    f.setPointSize(8);
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    return f;
  }();
  return font;
}

int CopyTextToClipboard(const char* text) {
  int result = 0;
  RunOnUiThread([&] {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (text != nullptr && clipboard != nullptr) {
      const QString value = QString::fromUtf8(text);
      clipboard->setText(value);
      if (clipboard->text() == value) result = 1;
    }
  });
  if (result == 0) ShowError(nullptr, "Failed To Set Clipboard Text!");
  return result;
}
