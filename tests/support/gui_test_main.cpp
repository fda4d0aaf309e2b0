// main() of the test programs that need widgets: a QApplication on the offscreen platform
// exists before any test runs. With PELORIN_TEST_AGENT=1 the window's host is this build's
// pelorin-agent over pipes, with PELORIN_TEST_AGENT=ssh the same over ssh.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>

#include "shell/startup.h"
#include "test_util.h"

int main(int argc, char** argv) {
  // Before any thread: a mount namespace can only be left by a process of one thread.
  if (ThroughAgent()) ShowFilesToTheWholeProcess();
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QTemporaryDir runtime;  // a private XDG_RUNTIME_DIR keeps Qt quiet
  if (qgetenv("XDG_RUNTIME_DIR").isEmpty() && runtime.isValid()) {
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  }
  QApplication app(argc, argv);
  PrepareApplication(app);
  UseBuiltHelper();
  if (ThroughSsh() && (!IsRoot() || access("/usr/sbin/sshd", X_OK) != 0)) {
    std::puts("skipped: the ssh variant needs root and openssh-server");
    return 0;
  }
  if (ThroughAgent() && !UseBuiltAgent()) return 1;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
