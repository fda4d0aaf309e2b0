#include "shell/controls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

void SetControlId(QWidget* control, int id) {
  control->setObjectName(QString::number(id));
}

QWidget* FindControlWidget(const QWidget* parent, int id) {
  if (parent == nullptr) return nullptr;
  return parent->findChild<QWidget*>(QString::number(id));
}

void NameAfterLabel(QWidget* control, const QString& label) {
  QString name = QString(label).remove(QLatin1Char('&')).trimmed();
  if (name.endsWith(QLatin1Char(':'))) name.chop(1);
  name = name.trimmed();
  control->setAccessibleName(name);
  if (auto* combo = qobject_cast<QComboBox*>(control); combo && combo->lineEdit()) {
    combo->lineEdit()->setAccessibleName(name);
  }
}

void PutInGroup(QWidget* control, QGroupBox* group) {
  const QRect spot = control->geometry().translated(-group->pos());
  control->setParent(group);
  control->setGeometry(spot);
  const bool entry = qobject_cast<QComboBox*>(control) || qobject_cast<QLineEdit*>(control) ||
                     qobject_cast<QPlainTextEdit*>(control);
  if (entry && control->accessibleName().isEmpty()) {
    NameAfterLabel(control, group->title());
  }
}

std::string BoundedText(const QString& text, size_t capacity) {
  std::string bytes = text.toUtf8().toStdString();
  if (capacity == 0) return {};
  if (bytes.size() > capacity - 1) {
    // When the first byte left out continues a character, that character goes whole.
    size_t cut = capacity - 1;
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
    bytes.resize(cut);
  }
  return bytes;
}

namespace {

QString TextOf(const QWidget* w) {
  if (auto* combo = qobject_cast<const QComboBox*>(w)) return combo->currentText();
  if (auto* edit = qobject_cast<const QLineEdit*>(w)) return edit->text();
  if (auto* plain = qobject_cast<const QPlainTextEdit*>(w)) return plain->toPlainText();
  if (auto* button = qobject_cast<const QAbstractButton*>(w)) return button->text();
  if (auto* label = qobject_cast<const QLabel*>(w)) return label->text();
  return {};
}

}  // namespace

std::string ReadControlText(const QWidget* parent, int id, size_t capacity) {
  return BoundedText(TextOf(FindControlWidget(parent, id)), capacity);
}

void SetControlText(const QWidget* parent, int id, const QString& text) {
  QWidget* w = FindControlWidget(parent, id);
  if (auto* combo = qobject_cast<QComboBox*>(w)) {
    if (combo->isEditable()) combo->setEditText(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    edit->setText(text);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
    plain->setPlainText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    button->setText(text);
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    label->setText(text);
  }
}

void EnableControl(const QWidget* parent, int id, bool enabled) {
  if (QWidget* w = FindControlWidget(parent, id)) w->setEnabled(enabled);
}

void AddToHistory(QComboBox* box) {
  if (box == nullptr) return;
  // The list gets the text as the module read it: through the input buffer.
  const QString text = QString::fromUtf8(BoundedText(box->currentText()));
  if (text.isEmpty()) return;
  for (int i = 0; i < box->count(); ++i) {
    if (box->itemText(i).compare(text, Qt::CaseInsensitive) == 0) return;
  }
  box->addItem(text);
}
