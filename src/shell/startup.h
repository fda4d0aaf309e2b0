#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <functional>

class QApplication;

// Where the splash goes: half the desktop's right and bottom edges less half the picture, each
// half truncated.
QPoint SplashTopLeft(const QRect& desktop, const QSize& picture);

// Settings every run shares, the program's and the tests': the dialog font and the name.
void PrepareApplication(QApplication& app);

// The program: splash, the hidden main window with its panes, one second's pause, then the
// main window (and `whenShown`, what the command line asked for) and the event loop until
// shutdown. The colours follow the desktop's light or dark scheme throughout. Returns the
// program's exit code (0).
int RunPelorin(QApplication& app, const std::function<void()>& whenShown = {});
