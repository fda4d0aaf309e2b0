#pragma once

#include <QString>
#include <string>

class QWidget;

// The popup's read-only text control.
inline constexpr int kPopupTextId = 1020;

// Shows `text` (lines ending in "\r\n") in a modal tool window over `owner`, sized to the text
// within 200 to 500 by 200 to 400 pixels, and returns when it is closed (Escape or the close
// box). Its text has the output panes' context menu.
void ShowTextPopup(QWidget* owner, const QString& caption, const std::string& text);
