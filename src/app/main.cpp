#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <cstdio>
#include <memory>
#include <string>

#include "capture/capture_pane.h"
#include "host/agent_host.h"
#include "host/host.h"
#include "shell/command_line.h"
#include "shell/startup.h"
#include "sys/capabilities.h"

int main(int argc, char** argv) {
  // The window holds no capability, however it was started: Qt loads plugins that environment
  // variables name. Privileged work goes through pelorin-helper.
  if ((getuid() != 0 || geteuid() != 0) && !DropAllCapabilities()) {
    std::fputs("pelorin: cannot give up the capabilities it was started with\n", stderr);
    return 1;
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
  QApplication app(argc, argv);
  return RunPelorin(app, [&line] {
    if (!line.files.empty()) ShowCaptureFile(QFile::decodeName(line.files.front().c_str()));
  });
}
