#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

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

// How long an agent has to say hello.
constexpr int kHelloTimeoutMs = 30000;

class AgentHost : public Host {
 public:
  explicit AgentHost(std::shared_ptr<Link> link)
      : link_(link),
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

 private:
  std::shared_ptr<Link> link_;
  std::unique_ptr<DnsService> dns_;
  std::unique_ptr<WhoisService> whois_;
  std::unique_ptr<PingService> ping_;
  std::unique_ptr<CaptureService> capture_;
  std::unique_ptr<SocketService> sockets_;
  std::unique_ptr<NetstatService> netstat_;
  std::unique_ptr<NetInfoService> netinfo_;
};

// Starts the command on two pipes: its standard input reads `*toChild`'s other end, its standard
// output writes `*fromChild`'s. The child's id, or -1.
pid_t Spawn(const std::vector<std::string>& command, int* toChild, int* fromChild) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return -1;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv;
  for (const std::string& part : command) argv.push_back(const_cast<char*>(part.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int started = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  if (started != 0) {
    close(in[1]);
    close(out[0]);
    return -1;
  }
  *toChild = in[1];
  *fromChild = out[0];
  return pid;
}

}  // namespace

Hello WindowHello() {
  Hello hello;
  hello.program = std::string("pelorin ") + (GetVersionString() + 1);
  return hello;
}

std::unique_ptr<Host> ConnectAgent(const std::vector<std::string>& command, std::string* failure) {
  if (command.empty() || command.front().empty()) {
    *failure = "pelorin-agent is not installed";
    return nullptr;
  }
  int toAgent = -1, fromAgent = -1;
  const pid_t pid = Spawn(command, &toAgent, &fromAgent);
  if (pid < 0) {
    *failure = "cannot start " + command.front();
    return nullptr;
  }
  // The child is waited for when it ends, whenever that is.
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  std::shared_ptr<Link> link = Link::Start(fromAgent, toAgent, Link::Side::Window, WindowHello());
  const std::optional<Hello> hello = link->peerHello(kHelloTimeoutMs);
  if (!hello) {
    *failure = command.front() + " did not answer";
    link->end();
    return nullptr;
  }
  if (hello->protocol != kFrameVersion || (hello->abilities & kAbilityServices) == 0) {
    *failure = "the agent speaks another version: " + hello->program;
    link->end();
    return nullptr;
  }
  return std::make_unique<AgentHost>(link);
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
