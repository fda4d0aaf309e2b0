#pragma once

class QApplication;

// Settings every run shares, the program's and the tests': the dialog font and the name.
void PrepareApplication(QApplication& app);

// The program: splash, the hidden main window with its panes, one second's pause, then the
// main window and the event loop until shutdown. Returns the program's exit code (0).
int RunPelorin(QApplication& app);
