#pragma once

#include <QFont>
#include <QString>
#include <string>
#include <string_view>

#include "shell/output_limits.h"
#include "sys/run_token.h"

class QPlainTextEdit;
class QWidget;

// The output pane of every module pane.
inline constexpr int kOutputPaneId = 1020;

enum class OutputScrollBars { Both, VerticalOnly, None };

// Makes an output pane: a plain-text control with the given id, placed at dialog units inside
// `pane`; read-only ones hold only what the module prints. In a module pane it grows with the
// pane and its text takes the output text size; in a dialog it keeps its place and font.
QPlainTextEdit* MakeOutputPane(QWidget* pane, int id, const QRect& dialogUnits, bool readOnly,
                               OutputScrollBars scrollBars, bool fixedFont);

// Appends text at the end of the control: the caret goes to the end, the text is inserted there
// in one step (not undoable), and a selection the user had made is lost. Lines end in "\r\n".
// Callable from any thread: off the UI thread the append is carried out there.
//
// The pane keeps the text byte for byte: every line end as it came ("\r\n", a lone "\n" or "\r"),
// and a line longer than kOutputLinePiece shown in pieces is still one line to GetOutputText and
// to Copy. Past kOutputPaneLimit characters or kOutputPaneLines lines the oldest lines go. Each
// append costs in proportion to its own text, never to the pane's.
void AppendOutput(QWidget* pane, int controlId, std::string_view utf8);
void AppendOutput(QWidget* pane, int controlId, const QString& text);
// A worker's append: dropped once its run has been cancelled.
void AppendOutput(const RunTokenPtr& token, QWidget* pane, int controlId, std::string_view utf8);

// The control's whole text as UTF-8, byte for byte as it was appended (for an editable pane, a
// line break the user typed reads as "\r\n").
std::string GetOutputText(const QWidget* pane, int controlId);

// The process-wide fixed-pitch font of the output panes: "Courier New", 8 point.
const QFont& GetFixedFont();

// Puts the text on the clipboard: 1 on success; on failure (or no text) shows
// "Failed To Set Clipboard Text!" and returns 0.
int CopyTextToClipboard(const char* text);
