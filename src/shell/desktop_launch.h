#pragma once

#include <QString>
#include <functional>

// The desktop programs the File menu runs.
enum class DesktopProgram { Terminal, TextEditor, Calculator };

// Starts the desktop's program of that kind (the first of a list of usual ones that starts);
// silent when none can be started.
void RunDesktopProgram(DesktopProgram program);

// Opens a web address in the desktop's browser; silent on failure.
void OpenWebPage(const QString& url);

// Replaces both operations, so tests can see what would be launched. An empty hook restores
// them.
struct LaunchHooks {
  std::function<void(DesktopProgram)> runProgram;
  std::function<void(const QString&)> openPage;
};
void SetLaunchHooks(LaunchHooks hooks);
