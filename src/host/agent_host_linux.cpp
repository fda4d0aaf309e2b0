#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>

#include "base/outside_text.h"
#include "base/version_string.h"
#include "capture/capture_service.h"
#include "dns/dns_service.h"
#include "host/agent_host.h"
#include "host/host.h"
#include "host/link.h"
#include "host/remote_services.h"
#include "netinfo/netinfo_service.h"
#include "netstat/netstat_service.h"
#include "ping/ping_service.h"
#include "sockets/socket_service.h"
#include "whois/whois_service.h"

namespace {

// The error output of a command kept, and how it ended.
struct ChildEnd {
  std::mutex mutex;
  std::condition_variable changed;
  std::string errors;
  bool errorsDone = true;  // no error output is read
  bool ended = false;
  int status = -1;
  size_t errorsAtHello = 0;  // what the command wrote before the agent answered
};

// How long a lost link waits for its command's end and last words.
constexpr auto kLossExplainWait = std::chrono::seconds(3);

class AgentHost : public Host {
 public:
  AgentHost(std::shared_ptr<Link> link, std::shared_ptr<ChildEnd> end,
            std::function<std::string(int, const std::string&)> explainLoss)
      : link_(link),
        end_(std::move(end)),
        explainLoss_(std::move(explainLoss)),
        dns_(NewRemoteDnsService(link)),
        whois_(NewRemoteWhoisService(link)),
        ping_(NewRemotePingService(link)),
        capture_(NewRemoteCaptureService(link)),
        sockets_(NewRemoteSocketService(link)),
        netstat_(NewRemoteNetstatService(link)),
        netinfo_(NewRemoteNetInfoService(link)) {}

  DnsService& dns() override { return *dns_; }
  WhoisService& whois() override { return *whois_; }
  PingService& ping() override { return *ping_; }
  CaptureService& capture() override { return *capture_; }
  SocketService& sockets() override { return *sockets_; }
  NetstatService& netstat() override { return *netstat_; }
  NetInfoService& netinfo() override { return *netinfo_; }

  void onConnectionLost(std::function<void(const std::string&)> lost) override {
    link_->onLost([end = end_, explain = explainLoss_, lost = std::move(lost)] {
      // The command's end is waited for apart from the link's thread, which its end joins.
      std::thread([end, explain, lost] {
        std::unique_lock<std::mutex> lock(end->mutex);
        end->changed.wait_for(lock, kLossExplainWait,
                              [&] { return end->ended && end->errorsDone; });
        const std::string errors =
            end->errors.substr(std::min(end->errorsAtHello, end->errors.size()));
        const int status = end->ended ? end->status : -1;
        lock.unlock();
        lost(explain ? explain(status, errors) : std::string("pelorin-agent ended"));
      }).detach();
    });
  }

 private:
  std::shared_ptr<Link> link_;
  std::shared_ptr<ChildEnd> end_;
  std::function<std::string(int, const std::string&)> explainLoss_;
  std::unique_ptr<DnsService> dns_;
  std::unique_ptr<WhoisService> whois_;
  std::unique_ptr<PingService> ping_;
  std::unique_ptr<CaptureService> capture_;
  std::unique_ptr<SocketService> sockets_;
  std::unique_ptr<NetstatService> netstat_;
  std::unique_ptr<NetInfoService> netinfo_;
};

// Error output kept at most.
constexpr size_t kErrorKeep = 16 * 1024;

// Starts the command on two pipes: its standard input reads `*toChild`'s other end, its standard
// output writes `*fromChild`'s, and its error output `*errorsFromChild`'s when that is given. The
// child's id, or -1.
pid_t Spawn(const AgentStart& start, int* toChild, int* fromChild, int* errorsFromChild) {
  int in[2], out[2], err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0) return -1;
  if (pipe2(out, O_CLOEXEC) != 0 || (errorsFromChild && pipe2(err, O_CLOEXEC) != 0)) {
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
      if (fd >= 0) close(fd);
    }
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (errorsFromChild) posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv;
  for (const std::string& part : start.command) argv.push_back(const_cast<char*>(part.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> names;  // of the variables the start gives
  for (const std::string& variable : start.environment) {
    names.push_back(variable.substr(0, variable.find('=') + 1));
  }
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e) {
    bool replaced = false;
    for (const std::string& name : names) replaced |= std::string_view(*e).starts_with(name);
    if (!replaced) env.push_back(*e);
  }
  for (const std::string& variable : start.environment) {
    env.push_back(const_cast<char*>(variable.c_str()));
  }
  env.push_back(nullptr);
  pid_t pid = -1;
  const int started = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  if (err[1] >= 0) close(err[1]);
  if (started != 0) {
    for (int fd : {in[1], out[0], err[0]}) {
      if (fd >= 0) close(fd);
    }
    return -1;
  }
  *toChild = in[1];
  *fromChild = out[0];
  if (errorsFromChild) *errorsFromChild = err[0];
  return pid;
}

// Reads the child's error output to its end, keeping the first kErrorKeep bytes: a child that
// writes more never blocks on it.
void KeepErrors(int fd, std::shared_ptr<ChildEnd> end) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::lock_guard<std::mutex> lock(end->mutex);
    end->errors.append(buffer, std::min(size_t(n), kErrorKeep - end->errors.size()));
  }
  close(fd);
  std::lock_guard<std::mutex> lock(end->mutex);
  end->errorsDone = true;
  end->changed.notify_all();
}

}  // namespace

Hello WindowHello() {
  Hello hello;
  hello.program = std::string("pelorin ") + (GetVersionString() + 1);
  return hello;
}

std::unique_ptr<Host> ConnectAgent(const std::vector<std::string>& command, std::string* failure) {
  AgentStart start;
  start.command = command;
  return ConnectAgent(start, failure);
}

std::unique_ptr<Host> ConnectAgent(const AgentStart& start, std::string* failure) {
  if (start.command.empty() || start.command.front().empty()) {
    *failure = "pelorin-agent is not installed";
    return nullptr;
  }
  int toAgent = -1, fromAgent = -1, errors = -1;
  const pid_t pid = Spawn(start, &toAgent, &fromAgent, start.explain ? &errors : nullptr);
  if (pid < 0) {
    *failure = "cannot start " + start.command.front();
    return nullptr;
  }
  auto end = std::make_shared<ChildEnd>();
  if (errors >= 0) {
    end->errorsDone = false;
    std::thread(KeepErrors, errors, end).detach();
  }
  // The child is waited for when it ends, whenever that is.
  std::thread([pid, end] {
    int status = 0;
    const bool waited = waitpid(pid, &status, 0) == pid;
    std::lock_guard<std::mutex> lock(end->mutex);
    end->ended = true;
    end->status = waited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    end->changed.notify_all();
  }).detach();
  std::shared_ptr<Link> link = Link::Start(fromAgent, toAgent, Link::Side::Window, WindowHello());
  const std::optional<Hello> hello = link->peerHello(start.helloTimeoutMs);
  if (!hello) {
    link->end();  // the command's input ends: it ends too
    *failure = start.command.front() + " did not answer";
    if (start.explain) {
      std::unique_lock<std::mutex> lock(end->mutex);
      if (end->changed.wait_for(lock, std::chrono::seconds(5),
                                [&] { return end->ended && end->errorsDone; })) {
        *failure = start.explain(end->status, end->errors);
      }
    }
    return nullptr;
  }
  if (hello->protocol != kFrameVersion || (hello->abilities & kAbilityServices) == 0) {
    *failure = "the agent speaks another version: " + EscapedTextFromOutside(hello->program, ' ');
    link->end();
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(end->mutex);
    end->errorsAtHello = end->errors.size();
  }
  return std::make_unique<AgentHost>(link, end, start.explainLoss);
}

std::string FindAgentHere() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  std::string folder(self, size_t(n));
  folder.resize(folder.rfind('/') + 1);
  for (const std::string& candidate :
       {folder + "pelorin-agent", folder + PELORIN_HELPER_FROM_BINDIR "/pelorin-agent"}) {
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}
