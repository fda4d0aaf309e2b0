#include "shell/askpass.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>
#include <cstdio>

namespace {

// A question of ssh's with Yes and No; true for Yes.
bool AskYesNo(const QString& prompt) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Pelorin - ssh"), prompt,
                  QMessageBox::Yes | QMessageBox::No);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

// A secret ssh asks for, or nothing when the user cancelled.
bool AskSecret(const QString& prompt, QByteArray* answer) {
  QDialog dialog;
  dialog.setWindowTitle(QStringLiteral("Pelorin - ssh"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* label = new QLabel(prompt, &dialog);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  auto* field = new QLineEdit(&dialog);
  field->setEchoMode(QLineEdit::Password);
  label->setBuddy(field);
  field->setAccessibleName(prompt);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(label);
  layout->addWidget(field);
  layout->addWidget(buttons);
  field->setFocus();
  if (dialog.exec() != QDialog::Accepted) return false;
  *answer = field->text().toUtf8();
  field->clear();
  return true;
}

}  // namespace

int RunAskpass(const QString& prompt) {
  const QByteArray kind = qgetenv("SSH_ASKPASS_PROMPT");
  if (kind == "none") {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Pelorin - ssh"), prompt);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return 0;
  }
  if (kind == "confirm") return AskYesNo(prompt) ? 0 : 1;
  if (prompt.contains(QLatin1String("(yes/no"))) {
    std::fputs(AskYesNo(prompt) ? "yes\n" : "no\n", stdout);
    return 0;
  }
  QByteArray answer;
  if (!AskSecret(prompt, &answer)) return 1;
  std::fwrite(answer.constData(), 1, size_t(answer.size()), stdout);
  std::fputc('\n', stdout);
  answer.fill('\0');
  return 0;
}
