#pragma once

#include <QString>
#include <QWidget>
#include <string>

class QComboBox;
class QGroupBox;

// Controls carry their numeric id as objectName ("1020"); this is how panes and tests find them.
void SetControlId(QWidget* control, int id);
QWidget* FindControlWidget(const QWidget* parent, int id);

template <typename T>
T* FindControl(const QWidget* parent, int id) {
  return qobject_cast<T*>(FindControlWidget(parent, id));
}

// Names a control for the accessibility interface after its label or group title ("Host /
// Address :" reads "Host / Address"); an editable combo box's edit field, which takes the focus,
// is named too.
void NameAfterLabel(QWidget* control, const QString& label);

// Moves a control, already placed over its group box, into the box at the same spot. On Linux
// the accessibility interface names a combo box by its value and tells its label through the
// group box it lies in; an edit or combo box without a name of its own is also named after the
// box's title.
void PutInGroup(QWidget* control, QGroupBox* group);

// Inputs are read through a buffer of 300 characters: at most 299 bytes of the text's UTF-8.
inline constexpr size_t kInputCapacity = 300;
std::string ReadControlText(const QWidget* parent, int id, size_t capacity = kInputCapacity);
std::string BoundedText(const QString& text, size_t capacity = kInputCapacity);

// Sets the text of a button, label, line edit or combo box's edit field.
void SetControlText(const QWidget* parent, int id, const QString& text);
void EnableControl(const QWidget* parent, int id, bool enabled);

// Combo-box history: the box's current text joins its list when it is not empty and no entry
// equal to it, ignoring case, is there yet.
void AddToHistory(QComboBox* box);
