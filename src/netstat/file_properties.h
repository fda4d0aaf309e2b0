#pragma once

#include <QString>
#include <optional>
#include <string>

class QWidget;

// Shows the file properties of a process's executable, given by the path its host names (nothing
// when it could not be read): the desktop's file manager is asked for its properties window over
// D-Bus (org.freedesktop.FileManager1); where none serves, the program's own properties window
// opens over `owner`. Returns 1 when either was shown, 0 when there is no path or it names no
// file. Never waits for the window.
int ShowFileProperties(QWidget* owner, const std::optional<std::string>& path);

// The object name of the program's own properties window, so tests can find it.
inline constexpr const char* kFilePropertiesWindowName = "FileProperties";

// Whether the desktop is asked at all; tests turn it off so that only our own window can open.
void SetFileManagerAllowed(bool allowed);
