#include "shell/output.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <vector>

#include "shell/controls.h"
#include "shell/dialog_units.h"
#include "shell/message_presenter.h"
#include "shell/module_pane.h"
#include "shell/output_text_size.h"
#include "shell/ui_thread.h"

namespace {

// Each line break of the pane is a block boundary; the block before it keeps in its user state
// what the break stands for in the text: the default -1 for "\r\n" (so a line the user types
// ends as the pane's own lines do), 0 for the break between two pieces of one long line, any
// other value the one character of a line end that came alone.
constexpr int kEndCrLf = -1;
constexpr int kEndNone = 0;

// Characters the control itself turns into block boundaries.
bool IsLineEndChar(char16_t c) {
  return c == u'\r' || c == u'\n' || c == QChar::ParagraphSeparator || c == 0xFDD0 || c == 0xFDD1;
}

void AppendLineEnd(QString& text, int end) {
  if (end == kEndCrLf) {
    text += QLatin1String("\r\n");
  } else if (end != kEndNone) {
    text += QChar(char16_t(end));
  }
}

// The text between two positions of the document, line ends as they came.
QString OutputTextBetween(const QTextDocument* doc, int from, int to) {
  QString text;
  for (QTextBlock block = doc->findBlock(from); block.isValid() && block.position() < to;
       block = block.next()) {
    const int start = block.position();
    const int end = start + block.length() - 1;  // where its line break is
    const int take = std::min(to, end) - std::max(from, start);
    if (take > 0) text += QStringView(block.text()).mid(std::max(from, start) - start, take);
    if (to > end && block.next().isValid()) AppendLineEnd(text, block.userState());
  }
  return text;
}

// Where the text up to `block` (a block boundary) can go: at the start of the first whole line
// from there on, so no piece of a long line is left behind; within the last line only when the
// rest of the pane is one line.
int CutAtLineStart(const QTextBlock& block) {
  QTextBlock line = block;
  while (line.isValid() && line.previous().userState() == kEndNone) line = line.next();
  return line.isValid() ? line.position() : block.position();
}

// Drops the oldest whole lines until the pane holds no more than its limits.
void TrimToLimits(QTextDocument* doc) {
  int cut = 0;
  if (const int excess = doc->characterCount() - 1 - int(kOutputPaneLimit); excess > 0) {
    QTextBlock block = doc->findBlock(excess);
    if (block.position() < excess) block = block.next();
    cut = block.isValid() ? CutAtLineStart(block) : excess;
  }
  if (const int extraLines = doc->blockCount() - int(kOutputPaneLines); extraLines > 0) {
    cut = std::max(cut, CutAtLineStart(doc->findBlockByNumber(extraLines)));
  }
  if (cut == 0) return;
  QTextCursor cursor(doc);
  cursor.setPosition(cut, QTextCursor::KeepAnchor);
  cursor.removeSelectedText();
}

// Inserts the text at the end as one edit. Every line end becomes a block boundary whose user
// state records it, and long lines are broken into pieces.
void InsertOutputText(QPlainTextEdit* edit, const QString& text) {
  QTextDocument* doc = edit->document();
  QTextBlock block = doc->lastBlock();
  int lineLength = block.length() - 1;
  QString shown;
  shown.reserve(text.size() + text.size() / qsizetype(kOutputLinePiece) + 1);
  std::vector<int> ends;  // of the breaks in `shown`, in order
  qsizetype i = 0;
  // A CR LF split between two appends (a read from the network ended between them) is still one
  // line end, not a line and an empty one.
  if (text.startsWith(u'\n') && lineLength == 0 && block.previous().userState() == int(u'\r')) {
    block.previous().setUserState(kEndCrLf);
    i = 1;
  }
  for (; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (IsLineEndChar(c)) {
      const bool crLf = c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n';
      i += crLf ? 1 : 0;
      ends.push_back(crLf ? kEndCrLf : int(c));
      shown += u'\n';
      lineLength = 0;
      continue;
    }
    // Never between the two halves of a character beyond the 16-bit range.
    if (lineLength >= int(kOutputLinePiece) && !QChar::isLowSurrogate(c)) {
      ends.push_back(kEndNone);
      shown += u'\n';
      lineLength = 0;
    }
    shown += QChar(c);
    ++lineLength;
  }

  QTextCursor cursor(doc);
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(shown);
  for (const int end : ends) {
    block.setUserState(end);
    block = block.next();
  }
  TrimToLimits(doc);
  cursor.movePosition(QTextCursor::End);
  edit->setTextCursor(cursor);
}

// An output pane: Copy (and dragging) hands on the text as the pane holds it.
class OutputEdit : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;

 protected:
  QMimeData* createMimeDataFromSelection() const override {
    const QTextCursor cursor = textCursor();
    auto* data = new QMimeData;
    data->setText(OutputTextBetween(document(), cursor.selectionStart(), cursor.selectionEnd()));
    return data;
  }
};

}  // namespace

QPlainTextEdit* MakeOutputPane(QWidget* pane, int id, const QRect& dlu, bool readOnly,
                               OutputScrollBars scrollBars, bool fixedFont) {
  auto* edit = new OutputEdit(pane);
  SetControlId(edit, id);
  auto* modulePane = qobject_cast<ModulePane*>(pane);
  if (modulePane != nullptr) {
    modulePane->place(edit, dlu.x(), dlu.y(), dlu.width(), dlu.height(), kGrowBoth);
  } else {
    edit->setGeometry(Dlu().rect(dlu.x(), dlu.y(), dlu.width(), dlu.height()));
  }
  edit->setReadOnly(readOnly);
  edit->setUndoRedoEnabled(!readOnly);
  // A caret the keys move, so output can be read line by line and partly selected from the
  // keyboard (and by a screen reader), not only with the mouse.
  if (readOnly) {
    edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  }
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);  // scrolls horizontally as text goes on
  edit->setTabChangesFocus(true);
  const auto policy = [](bool on) { return on ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff; };
  edit->setHorizontalScrollBarPolicy(policy(scrollBars == OutputScrollBars::Both));
  edit->setVerticalScrollBarPolicy(policy(scrollBars != OutputScrollBars::None));
  if (fixedFont) edit->setFont(GetFixedFont());
  // A module's output takes the size the user chose for output text; a dialog's keeps its own.
  if (modulePane != nullptr) FollowOutputTextSize(edit);
  edit->setAccessibleName(QStringLiteral("Output"));
  // Tab stops every half inch, so tabbed columns line up as users know them.
  edit->setTabStopDistance(edit->logicalDpiX() / 2.0);
  return edit;
}

void AppendOutput(QWidget* pane, int controlId, const QString& text) {
  RunOnUiThread([&] {
    if (auto* edit = FindControl<QPlainTextEdit>(pane, controlId)) InsertOutputText(edit, text);
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
    const auto* edit = FindControl<QPlainTextEdit>(pane, controlId);
    if (edit == nullptr) return;
    const QTextDocument* doc = edit->document();
    text = OutputTextBetween(doc, 0, doc->characterCount() - 1).toUtf8().toStdString();
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
