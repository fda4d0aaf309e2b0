#include <limits.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/connect_dialog.h"
#include "capture/capture_pane.h"
#include "host/agent_host.h"
#include "host/host.h"
#include "host/ssh_host.h"
#include "shell/askpass.h"
#include "shell/command_line.h"
#include "shell/main_window.h"
#include "shell/startup.h"
#include "sys/capabilities.h"

namespace {

// This program's executable, which ssh starts as its askpass.
std::string SelfPath() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  return n > 0 ? std::string(self, size_t(n)) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  // The window holds no capability, however it was started: Qt loads plugins that environment
  // variables name. Privileged work goes through pelorin-helper.
  if ((getuid() != 0 || geteuid() != 0) && !DropAllCapabilities()) {
    std::fputs("pelorin: cannot give up the capabilities it was started with\n", stderr);
    return 1;
  }
  // Started by ssh as its askpass: the question is the one argument.
  if (qgetenv(kAskpassVariable) == "1" && argc == 2) {
    QApplication app(argc, argv);
    return RunAskpass(QString::fromLocal8Bit(argv[1]));
  }
  const CommandLine line = ParseCommandLine(argc, argv);
  if (line.action != CommandLineAction::kRun) return AnswerCommandLine(line, stdout, stderr);
  if (line.agentHere) {
    std::string failure;
    std::unique_ptr<Host> agent = ConnectAgent({FindAgentHere()}, &failure);
    if (!agent) {
      std::fprintf(stderr, "pelorin: %s\n", failure.c_str());
      return 1;
    }
    SetWindowHost(std::move(agent));
  }
  std::optional<SshDestination> destination;
  if (!line.host.empty() && !(destination = ParseSshDestination(line.host))) {
    std::fprintf(stderr, "pelorin: '%s' is not a destination ssh takes ([user@]host[:port])\n",
                 line.host.c_str());
    return 2;
  }
  QApplication app(argc, argv);
  if (!destination && line.askForHost) {
    const QString asked = AskForHost(nullptr);
    if (asked.isEmpty()) return 0;  // cancelled
    destination = ParseSshDestination(asked.toStdString());
  }
  if (destination) {
    // Before the window: ssh's questions come up as dialogs of their own meanwhile.
    std::string failure;
    std::unique_ptr<Host> host = ConnectSshHost(*destination, SelfPath(), &failure);
    if (!host) {
      std::fprintf(stderr, "pelorin: %s\n", failure.c_str());
      QMessageBox box(QMessageBox::Critical, QStringLiteral("Pelorin"),
                      QString::fromStdString(failure));
      box.setTextFormat(Qt::PlainText);
      if (qgetenv("QT_QPA_PLATFORM") != "offscreen") box.exec();  // where someone can see it
      return 1;
    }
    const QString name = QString::fromStdString(SshDestinationText(*destination));
    OfferToConnectAgainWhenLost(*host, name);
    SetWindowHost(std::move(host));
    SetInspectedHostName(name);
  }
  return RunPelorin(app, [&line] {
    if (!line.files.empty()) ShowCaptureFile(QFile::decodeName(line.files.front().c_str()));
  });
}
