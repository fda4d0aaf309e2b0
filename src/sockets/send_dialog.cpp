#include "sockets/send_dialog.h"

#include <QCheckBox>
#include <QCursor>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>
#include <memory>

#include "shell/controls.h"
#include "shell/dialog_units.h"
#include "shell/message_presenter.h"
#include "shell/output.h"
#include "shell/payload_display.h"
#include "sockets/command_templates.h"
#include "sockets/terminal_input.h"

namespace {

constexpr int kDialogWidth = 262;  // dialog units
constexpr int kDialogHeight = 142;

MenuRunner g_menuRunner;

int RunMenu(QMenu& menu, const QPoint& at) {
  if (g_menuRunner) return g_menuRunner(menu, at);
  const QAction* chosen = menu.exec(at);
  return chosen ? chosen->data().toInt() : 0;
}

// Characters as the text is sent: a line break is CR LF.
int SentLength(const QString& text) {
  return int(text.size() + text.count(QLatin1Char('\n')));
}

std::unique_ptr<QMenu> BuildCommandMenu() {
  auto menu = std::make_unique<QMenu>(QStringLiteral("Commands"));
  QMenu* submenu = nullptr;
  for (const CommandTemplate& t : CommandTemplates()) {
    const QString name = QString::fromLatin1(t.submenu);
    if (submenu == nullptr || submenu->title() != name) submenu = menu->addMenu(name);
    QAction* action = submenu->addAction(QString::fromLatin1(t.item));
    action->setData(t.id);
    action->setObjectName(QString::number(t.id));
  }
  return menu;
}

}  // namespace

SendDialog::SendDialog(QWidget* owner, std::function<void(SendDialog&)> onOk)
    : QDialog(owner), onOk_(std::move(onOk)) {
  setWindowTitle(QStringLiteral("Send To :"));
  setFont(DialogFont());
  setModal(true);
  const DialogUnits& dlu = Dlu();
  setFixedSize(dlu.x(kDialogWidth), dlu.y(kDialogHeight));

  edit_ = new QPlainTextEdit(this);
  SetControlId(edit_, kSendTextId);
  edit_->setAccessibleName(QStringLiteral("Data To Send"));
  edit_->setGeometry(dlu.rect(7, 7, 248, 92));
  edit_->setLineWrapMode(QPlainTextEdit::NoWrap);
  edit_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  connect(edit_->document(), &QTextDocument::contentsChange, this,
          [this](int position, int, int added) { keepWithinLimit(position, added); });

  hex_ =
      new QCheckBox(QStringLiteral("Text is HEX data. EG: 00 20 33. To Be Sent As Binary."), this);
  SetControlId(hex_, kSendHexId);
  hex_->setGeometry(dlu.rect(7, 103, 248, 10));

  auto* commands = new QPushButton(QStringLiteral("Common Commands..."), this);
  SetControlId(commands, kCommonCommandsId);
  commands->setGeometry(dlu.rect(7, 121, 90, 14));  // room for its text beside the frame
  connect(commands, &QPushButton::clicked, this, [this] { chooseCommand(); });

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  SetControlId(ok, kSendOkId);
  ok->setGeometry(dlu.rect(151, 121, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] {
    if (onOk_) onOk_(*this);
  });

  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  SetControlId(cancel, kSendCancelId);
  cancel->setGeometry(dlu.rect(205, 121, 50, 14));
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  edit_->setFocus();
}

std::string SendDialog::text() const {
  QString text = edit_->toPlainText();
  text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return text.toUtf8().toStdString();
}

bool SendDialog::hexChecked() const {
  return hex_->isChecked();
}

std::optional<std::vector<uint8_t>> SendDialog::dataToSend() {
  std::optional<std::vector<uint8_t>> data = SendDataFromText(text(), hexChecked());
  if (!data) ShowError(this, "No Binary Data To Send!");
  return data;
}

void SendDialog::keepWithinLimit(int position, int added) {
  if (limiting_ || added <= 0) return;
  const QString all = edit_->toPlainText();
  const int excess = SentLength(all) - int(kSendTextMaxChars);
  if (excess <= 0) return;
  // Keep what fits of the text just added, as a length-limited edit does.
  const int start = std::clamp(position, 0, int(all.size()));
  const int end = std::clamp(position + added, start, int(all.size()));
  const QString inserted = all.mid(start, end - start);
  int room = SentLength(inserted) - excess;
  int keep = 0;
  while (keep < inserted.size()) {
    room -= inserted[keep] == QLatin1Char('\n') ? 2 : 1;
    if (room < 0) break;
    ++keep;
  }
  limiting_ = true;
  QTextCursor cursor(edit_->document());
  cursor.setPosition(start + keep);
  cursor.setPosition(end, QTextCursor::KeepAnchor);
  cursor.removeSelectedText();
  limiting_ = false;
}

void SendDialog::chooseCommand() {
  std::unique_ptr<QMenu> menu = BuildCommandMenu();
  InsertCommandTemplate(this, kSendTextId, RunMenu(*menu, QCursor::pos()));
}

void InsertCommandTemplate(QWidget* dialog, int editId, int itemId) {
  const char* text = CommandTemplateText(itemId);
  auto* edit = FindControl<QPlainTextEdit>(dialog, editId);
  if (text == nullptr || edit == nullptr) return;
  edit->setPlainText(QString::fromLatin1(text));
  edit->setFocus();
}

void SetCommandMenuRunner(MenuRunner runner) {
  g_menuRunner = std::move(runner);
}

void EchoSentData(QWidget* pane, const std::vector<uint8_t>& data) {
  auto* echo = FindControl<QCheckBox>(pane, kEchoLocalId);
  if (echo == nullptr || !echo->isChecked()) return;
  AppendOutput(pane, kOutputPaneId, std::string_view("#>[ECHO]"));
  RenderPayload(pane, kOutputPaneId, DisplayModeFromSelection(pane, kDisplaySelectorId),
                data.data(), data.size());
}
