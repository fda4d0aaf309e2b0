#pragma once

#include <QString>
#include <optional>

#include "netstat/process_info.h"

class QWidget;

// Shows the file properties of a process's executable as its host describes it (nothing when
// its path could not be read or names no file): the desktop's file manager is asked for its
// properties window over D-Bus (org.freedesktop.FileManager1); where none serves, the program's
// own properties window opens over `owner` with the host's facts. Returns 1 when either was
// shown, 0 when there is no file. Never waits for the window.
int ShowFileProperties(QWidget* owner, const std::optional<ExecutableFile>& file);

// The object name of the program's own properties window, so tests can find it.
inline constexpr const char* kFilePropertiesWindowName = "FileProperties";

// Whether the desktop is asked at all; tests turn it off so that only our own window can open.
void SetFileManagerAllowed(bool allowed);
