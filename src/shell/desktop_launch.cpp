#include "shell/desktop_launch.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace {

LaunchHooks& Hooks() {
  static LaunchHooks hooks;
  return hooks;
}

QStringList Candidates(DesktopProgram program) {
  switch (program) {
    case DesktopProgram::Terminal: {
      QStringList list;
      const QString chosen = qEnvironmentVariable("TERMINAL");
      if (!chosen.isEmpty()) list << chosen;
      list << "x-terminal-emulator"
           << "gnome-terminal"
           << "konsole"
           << "xfce4-terminal"
           << "mate-terminal"
           << "lxterminal"
           << "qterminal"
           << "xterm";
      return list;
    }
    case DesktopProgram::TextEditor:
      return {"gnome-text-editor", "gedit",  "kate", "kwrite", "mousepad", "pluma", "xed",
              "featherpad",        "leafpad"};
    case DesktopProgram::Calculator:
      return {"gnome-calculator", "kcalc",        "galculator", "mate-calc",
              "qalculate-gtk",    "qalculate-qt", "xcalc"};
  }
  return {};
}

}  // namespace

void RunDesktopProgram(DesktopProgram program) {
  if (Hooks().runProgram) {
    Hooks().runProgram(program);
    return;
  }
  for (const QString& name : Candidates(program)) {
    if (QProcess::startDetached(name, {})) return;
  }
}

void OpenWebPage(const QString& url) {
  if (Hooks().openPage) {
    Hooks().openPage(url);
    return;
  }
  QDesktopServices::openUrl(QUrl(url));
}

void SetLaunchHooks(LaunchHooks hooks) {
  Hooks() = std::move(hooks);
}
