#include "test_util.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "host/agent_host.h"
#include "host/helper_client.h"
#include "host/host.h"
#include "shell/controls.h"

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    // Events are served once more after the deadline, so a thread that lost the processor for
    // the whole wait still sees what was posted meanwhile.
    const bool late = timer.elapsed() > timeoutMs;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (late) return done();
    QThread::msleep(1);
  }
  return true;
}

void ServeEvents(int milliseconds) {
  WaitUntil([] { return false; }, milliseconds);
}

void ClickControl(QWidget* parent, int id) {
  if (auto* button = FindControl<QAbstractButton>(parent, id)) button->click();
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool quiet) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    if (quiet) {
      const int null = open("/dev/null", O_RDWR);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    execvp(args[0], args.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  stop();
}

bool ChildProcess::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    status_ = status;
    pid_ = -1;
    return false;
  }
  return true;
}

int ChildProcess::wait(int timeoutMs) {
  for (int waited = 0; running(); waited += 5) {
    if (waited >= timeoutMs) return -1;
    usleep(5000);
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

void ChildProcess::stop(int timeoutMs) {
  if (!running()) return;
  kill(pid_, SIGTERM);
  if (wait(timeoutMs) == -1 && pid_ > 0) {
    kill(pid_, SIGKILL);
    wait(timeoutMs);
  }
}

std::string RunCommand(const std::string& command, int* exitCode) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (exitCode) *exitCode = -1;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/pelorin-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  path_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (path_ != "/tmp") std::filesystem::remove_all(path_, ec);
}

bool IsRoot() {
  return geteuid() == 0;
}

void UseBuiltHelper() {
  UseHelperAt(PELORIN_HELPER_PATH);
}

WithoutHelper::WithoutHelper() {
  UseHelperAt("/nonexistent/pelorin-helper");
}

WithoutHelper::~WithoutHelper() {
  UseBuiltHelper();
}

namespace {

bool g_wholeProcess = false;

}  // namespace

bool ThroughAgent() {
  return qEnvironmentVariable("PELORIN_TEST_AGENT") == QLatin1String("1");
}

bool UseBuiltAgent() {
  std::string failure;
  std::unique_ptr<Host> agent = ConnectAgent({PELORIN_AGENT_PATH}, &failure);
  if (!agent) {
    std::fprintf(stderr, "the agent did not answer: %s\n", failure.c_str());
    return false;
  }
  SetWindowHost(std::move(agent));
  return true;
}

pid_t ChildStartedFrom(const std::string& path) {
  pid_t newest = -1;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream status(entry.path() / "status");
    std::string line;
    pid_t parent = -1;
    while (std::getline(status, line)) {
      if (line.starts_with("PPid:")) parent = std::stoi(line.substr(5));
    }
    if (parent == getpid() && std::filesystem::read_symlink(entry.path() / "exe", error) == path) {
      newest = std::max(newest, pid_t(std::stoi(name)));
    }
  }
  return newest;
}

void ShowFilesToTheWholeProcess() {
  g_wholeProcess = IsRoot() && unshare(CLONE_NEWNS) == 0 &&
                   mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

FileShownAt::FileShownAt(const std::string& source, const std::string& target) {
  if (g_wholeProcess) {
    shown_ = mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
    if (shown_) target_ = target;
    return;
  }
  home_ = open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
  cwd_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (home_ < 0 || cwd_ < 0) return;
  // A thread of a process with other threads may do this: it gets a namespace of its own.
  left_ = unshare(CLONE_NEWNS) == 0;
  // Private first, so the bind mount never propagates back to the host's namespace.
  shown_ = left_ && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

FileShownAt::~FileShownAt() {
  if (!target_.empty()) umount2(target_.c_str(), MNT_DETACH);
  if (left_ && (setns(home_, CLONE_NEWNS) != 0 || fchdir(cwd_) != 0)) {
    std::abort();  // never run on in the wrong view of the files
  }
  if (home_ >= 0) close(home_);
  if (cwd_ >= 0) close(cwd_);
}

namespace {

std::string WrittenFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

}  // namespace

size_t ThreadCount() {
  std::error_code ec;
  const std::filesystem::directory_iterator tasks("/proc/self/task", ec);
  return ec ? 0 : size_t(std::distance(tasks, std::filesystem::directory_iterator()));
}

HostsFileShown::HostsFileShown(const std::string& lines)
    : threads_(ThreadCount()), shown_(WrittenFile(dir_.file("hosts"), lines), "/etc/hosts") {}

HostsFileShown::~HostsFileShown() {
  WaitUntil([this] { return ThreadCount() <= threads_; }, 10000);
}
