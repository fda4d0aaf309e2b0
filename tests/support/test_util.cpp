#include "test_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
#include <sstream>

#include "app/connect_dialog.h"
#include "host/agent_host.h"
#include "host/helper_client.h"
#include "host/host.h"
#include "host/ssh_command.h"
#include "host/ssh_host.h"
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
  const QString how = qEnvironmentVariable("PELORIN_TEST_AGENT");
  return how == QLatin1String("1") || how == QLatin1String("ssh");
}

bool ThroughSsh() {
  return qEnvironmentVariable("PELORIN_TEST_AGENT") == QLatin1String("ssh");
}

namespace {

// The keys and the client configuration of the ssh variant, made once; the configuration is
// shown at /etc/ssh/ssh_config to the whole process and the ssh it starts.
struct SshSetup {
  TempDir dir;
  std::unique_ptr<FileShownAt> config;
  std::vector<std::unique_ptr<ChildProcess>> servers;  // end with the process
  bool ok = false;

  SshSetup() {
    for (const char* key : {"hostkey", "id"}) {
      if (RunCommand("ssh-keygen -q -t ed25519 -N '' -f " + dir.file(key) + " && echo ok") !=
          "ok\n") {
        return;
      }
    }
    RunCommand("cp " + dir.file("id.pub") + " " + dir.file("authorized_keys"));
    std::ofstream(dir.file("ssh_config"))
        << "Host 127.0.0.1\n  User root\n  IdentityFile " << dir.file("id")
        << "\n  IdentitiesOnly yes\n  UserKnownHostsFile /dev/null\n"
        << "  StrictHostKeyChecking no\n  LogLevel ERROR\n";
    config = std::make_unique<FileShownAt>(dir.file("ssh_config"), "/etc/ssh/ssh_config");
    mkdir("/run/sshd", 0755);  // sshd's own empty folder
    ok = config->shown();
  }
};

// A port of 127.0.0.1 free in the calling thread's network namespace just now.
int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length) == 0) {
    port = ntohs(at.sin_port);
  }
  close(fd);
  return port;
}

// An sshd on 127.0.0.1 of the calling thread's network namespace, with this build's agent first
// on its sessions' PATH and the test's sanitizer settings, and the window's host behind it.
SshSetup& SshServers() {
  static SshSetup setup;
  return setup;
}

bool UseAgentOverSsh() {
  SshSetup& setup = SshServers();
  if (!setup.ok) {
    std::fprintf(stderr, "the ssh variant's keys or configuration could not be made\n");
    return false;
  }
  const int port = FreeLoopbackPort();
  const std::string agent = PELORIN_AGENT_PATH;
  std::string environment = "PATH=" + agent.substr(0, agent.rfind('/')) + ":/usr/bin:/bin";
  for (const char* name :
       {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "PELORIN_SOURCE_DIR", "XDG_CACHE_HOME"}) {
    if (const char* value = getenv(name)) environment += std::string(" ") + name + "=" + value;
  }
  setup.servers.push_back(std::make_unique<ChildProcess>(
      SshdCommand(setup.dir.path(), "127.0.0.1:" + std::to_string(port), environment)));
  const std::string destination = "127.0.0.1:" + std::to_string(port);
  std::string failure;
  std::unique_ptr<Host> host;
  // sshd listens a moment after its start.
  WaitUntil(
      [&] {
        return (host = ConnectSshHost(*ParseSshDestination(destination), {}, &failure)) != nullptr;
      },
      10000);
  if (!host) {
    std::fprintf(stderr, "the agent did not answer over ssh: %s\n", failure.c_str());
    return false;
  }
  OfferToConnectAgainWhenLost(*host, QString::fromStdString(destination));
  SetWindowHost(std::move(host));
  return true;
}

// Whether `pid` is a descendant of this process (within a few generations).
bool DescendsFromThisProcess(pid_t pid) {
  for (int generation = 0; generation < 8 && pid > 1; ++generation) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    pid_t parent = -1;
    while (std::getline(status, line)) {
      if (line.starts_with("PPid:")) parent = std::stoi(line.substr(5));
    }
    if (parent == getpid()) return true;
    pid = parent;
  }
  return false;
}

}  // namespace

int KillSessionsOf(pid_t sshd) {
  const std::string sessions = RunCommand("pgrep -P " + std::to_string(sshd));
  int killed = 0;
  for (size_t at = 0; at < sessions.size();) {
    const size_t end = std::min(sessions.find('\n', at), sessions.size());
    killed += kill(std::stoi(sessions.substr(at, end - at)), SIGKILL) == 0;
    at = end + 1;
  }
  return killed;
}

void KillSshSessions() {
  static SshSetup& setup = SshServers();
  if (!setup.servers.empty()) KillSessionsOf(setup.servers.back()->pid());
}

std::vector<std::string> SshdCommand(const std::string& keys, const std::string& listen,
                                     const std::string& environment) {
  return {"/usr/sbin/sshd",
          "-D",
          "-e",
          "-f",
          "/dev/null",
          "-h",
          keys + "/hostkey",
          "-o",
          "ListenAddress=" + listen,
          "-o",
          "AuthorizedKeysFile=" + keys + "/authorized_keys",
          "-o",
          "StrictModes=no",
          "-o",
          "PidFile=none",
          "-o",
          "PasswordAuthentication=no",
          "-o",
          "KbdInteractiveAuthentication=no",
          "-o",
          "SetEnv=" + environment};
}

bool UseBuiltAgent() {
  if (ThroughSsh()) return UseAgentOverSsh();
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
  // The newest by its start, not by its id: ids wrap (at 32768 on many machines).
  pid_t newest = -1;
  unsigned long long newestStart = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    if (std::filesystem::read_symlink(entry.path() / "exe", error) != path ||
        !DescendsFromThisProcess(pid)) {
      continue;
    }
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // After the name in parentheses: field 3 on, of which the start time is field 22.
    std::istringstream fields(line.substr(std::min(line.rfind(')') + 2, line.size())));
    std::string field;
    unsigned long long start = 0;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
      if (i == 22) start = std::stoull(field);
    }
    if (newest < 0 || start > newestStart || (start == newestStart && pid > newest)) {
      newest = pid;
      newestStart = start;
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
