#pragma once

#include <QString>
#include <cstdint>

class QWidget;

// Shows the file properties of a process's executable: the desktop's file manager is asked for
// its properties window over D-Bus (org.freedesktop.FileManager1); where none serves, the
// program's own properties window opens over `owner`. Returns 1 when either was shown, 0 when
// the executable's path cannot be read or names no file. Never waits for the window.
int ShowFileProperties(QWidget* owner, uint32_t processId);

// The object name of the program's own properties window, so tests can find it.
inline constexpr const char* kFilePropertiesWindowName = "FileProperties";

// Whether the desktop is asked at all; tests turn it off so that only our own window can open.
void SetFileManagerAllowed(bool allowed);
