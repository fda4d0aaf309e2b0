// pelorin-agent: serves every service of the boundary for a window elsewhere, over a byte
// stream on its standard input and output (through ssh, or a pair of pipes). It runs as the
// user, with no privilege of its own: what needs one it asks of its host's pelorin-helper, as a
// window there would. The window is a peer like any other: every request is decoded within
// bounds, and nothing it sends names a program to run. The agent ends when its input closes,
// and ends every run it started.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "agent/serve.h"
#include "base/version_string.h"
#include "capture/filter_rules.h"
#include "host/host.h"
#include "host/link.h"

namespace {

// How long the window has to say hello, and the runs to end once it has gone.
constexpr int kHelloTimeoutMs = 30000;
constexpr auto kEndingRuns = std::chrono::seconds(2);

// The stream moves off descriptors 0 and 1, which then read and write /dev/null, so that
// nothing a library prints can break a frame.
bool TakeTheStream(int* in, int* out) {
  *in = fcntl(0, F_DUPFD_CLOEXEC, 3);
  *out = fcntl(1, F_DUPFD_CLOEXEC, 3);
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  return *in >= 0 && *out >= 0 && null >= 0 && dup2(null, 0) == 0 && dup2(null, 1) == 1;
}

std::string ThisHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace

int main() {
  signal(SIGPIPE, SIG_IGN);  // a closed stream or socket is an error value, not the end
  int in = -1, out = -1;
  if (!TakeTheStream(&in, &out)) return 1;
  Hello own;
  own.program = std::string("pelorin-agent ") + (GetVersionString() + 1);
  own.abilities = kAbilityServices;
  own.hostName = ThisHostName();
  const std::shared_ptr<Link> link = Link::Start(in, out, Link::Side::Agent, own);
  const std::optional<Hello> window = link->peerHello(kHelloTimeoutMs);
  if (!window || window->protocol != kFrameVersion) return 2;
  // Its captures never show the ssh session this stream may come over.
  const char* session = getenv("SSH_CONNECTION");
  static std::unique_ptr<Host> host =
      NewLocalHost(ExclusionOfSshConnection(session ? session : ""));  // outlives the runs
  static std::atomic<int> running{0};
  while (std::shared_ptr<Channel> channel = link->accept()) {
    ++running;
    try {
      std::thread([channel] {
        ServeChannel(*channel, *host);
        channel->close(0);  // a no-op where the service ended it
        --running;
      }).detach();
    } catch (const std::system_error&) {
      channel->close(EAGAIN);
      --running;
    }
  }
  // The window has gone: every run's token is cancelled; they end, or are ended with the process.
  const auto until = std::chrono::steady_clock::now() + kEndingRuns;
  while (running > 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  _exit(0);
}
