#include "netstat/text_popup.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <algorithm>

#include "netstat/endpoint_model.h"
#include "shell/dialog_units.h"
#include "shell/output.h"
#include "shell/output_menu.h"

namespace {

class TextPopup : public QDialog {
 public:
  TextPopup(QWidget* owner, const QString& caption, const std::string& text) : QDialog(owner) {
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowTitle(caption.isEmpty() ? QStringLiteral("Dialog") : caption);
    setFont(DialogFont());
    resize(Dlu().x(233), Dlu().y(182));
    edit_ = MakeOutputPane(this, kPopupTextId, QRect(1, 1, 232, 181), true, OutputScrollBars::Both,
                           false);
    paintAsNote();
    const QString shown = DisplayText(text);
    AppendOutput(this, kPopupTextId, shown);  // the text as it is, line ends and all
    edit_->viewport()->installEventFilter(this);
    fitToText(edit_->toPlainText());
  }

 protected:
  // The desktop's colours changed: the note takes the new ones once every widget has been
  // polished for them (the style sheet's polish puts back the colours a widget was given).
  bool event(QEvent* event) override {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
      QMetaObject::invokeMethod(
          this, [this] { paintAsNote(); }, Qt::QueuedConnection);
    }
    return QDialog::event(event);
  }

  // The output panes' menu, for a right-click over the text (not from the keyboard); the text
  // is there to be read and copied, so "Clear Output" stays greyed.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == edit_->viewport() && event->type() == QEvent::ContextMenu) {
      auto* request = static_cast<QContextMenuEvent*>(event);
      if (request->reason() == QContextMenuEvent::Mouse) showMenu(request->globalPos());
      return true;
    }
    return QDialog::eventFilter(watched, event);
  }

 private:
  // The colours of a note (pale yellow in a light scheme), from the palette's tooltip roles.
  void paintAsNote() {
    const QPalette colours = QApplication::palette();
    QPalette palette = edit_->palette();
    palette.setColor(QPalette::Base, colours.color(QPalette::ToolTipBase));
    palette.setColor(QPalette::Text, colours.color(QPalette::ToolTipText));
    edit_->setPalette(palette);
    edit_->viewport()->setPalette(palette);  // which a style sheet's polish gave its own
  }

  void showMenu(const QPoint& globalPos) {
    std::unique_ptr<QMenu> menu = BuildOutputMenu(edit_);
    for (QAction* action : menu->actions()) {
      if (action->data().toInt() == kCmdClearOutput) action->setEnabled(false);
    }
    const int command = RunContextMenu(*menu, globalPos);
    menu.reset();
    if (command != 0 && command != kCmdClearOutput) ApplyOutputMenuCommand(edit_, command);
  }

  void fitToText(const QString& text) {
    const QRect measured =
        QFontMetrics(edit_->font())
            .boundingRect(QRect(), Qt::TextExpandTabs | Qt::AlignLeft | Qt::AlignTop, text);
    const int width = std::clamp(measured.width(), 200, 500);
    const int height = std::clamp(measured.height(), 200, 400);
    resize(width + 50, height + 30);
    // The text fills the window from where it stands.
    edit_->resize(this->width() - edit_->x(), this->height() - edit_->y());
    edit_->moveCursor(QTextCursor::Start);  // nothing selected
  }

  QPlainTextEdit* edit_ = nullptr;
};

}  // namespace

void ShowTextPopup(QWidget* owner, const QString& caption, const std::string& text) {
  TextPopup popup(owner, caption, text);
  popup.exec();
}
