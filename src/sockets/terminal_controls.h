#pragma once

#include <functional>

#include "shell/follow_layout.h"

class ModulePane;
class QComboBox;
class QGroupBox;
class QPushButton;
class SocketService;

// Controls the socket terminals and the capture pane share.

// Fills a drop-down list with the host's local address list, first entry selected, then runs
// `filled`. The list is read off the UI thread; nothing happens when the box has gone by then.
void FillLocalAddressBox(QComboBox* box, SocketService& host, std::function<void()> filled);

// A group box with its title, at dialog units, following the pane's growth as `follow` says.
QGroupBox* AddGroup(ModulePane* pane, const char* title, int x, int y, int width, int height,
                    Follow follow = kStay);

// A button of the terminals' button row (y 46, 50 x 14) that sends its id as the pane's command.
QPushButton* AddRowButton(ModulePane* pane, const char* text, int id, int x);

// A port field: digits only, in the group's first row (y 15, height 12), moving with its group.
void AddPortEdit(ModulePane* pane, QGroupBox* group, int id, int x, int width, Follow follow);

// The lower part both terminals share: the "Echo Local" box at `echoX` on the button row, the
// "Display :" group with its selector (Text Only) at the right, and the output pane.
void AddEchoDisplayAndOutput(ModulePane* pane, int echoX);
