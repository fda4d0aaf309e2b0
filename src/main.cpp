#include <unistd.h>

#include <QApplication>
#include <cstdio>

#include "helper/capabilities.h"
#include "shell/startup.h"

int main(int argc, char** argv) {
  // The window holds no capability, however it was started: Qt loads plugins that environment
  // variables name. Privileged work goes through pelorin-helper.
  if ((getuid() != 0 || geteuid() != 0) && !DropAllCapabilities()) {
    std::fputs("pelorin: cannot give up the capabilities it was started with\n", stderr);
    return 1;
  }
  QApplication app(argc, argv);
  return RunPelorin(app);
}
