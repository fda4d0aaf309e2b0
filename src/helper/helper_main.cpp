// pelorin-helper: the privileged work of the Pelorin window, which holds no capability itself.
// Started by the window on a socket pair (its descriptor 3), it serves the requests of
// helper_protocol.h until the window closes the pair. Any member of the group allowed to run it
// may send anything, so it trusts nothing: it starts with an empty environment and only its own
// descriptors, can neither be traced nor gain privileges, keeps only the capabilities it uses in
// its permitted set and raises one only around the call that needs it, checks every field of
// every request, and never reads or returns a file's contents, runs another program or hands
// out a socket.
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "helper/capabilities.h"
#include "helper/helper_channel.h"
#include "helper/helper_operations.h"

namespace {

using Clock = std::chrono::steady_clock;

// Requests served at once, captures among them; more are refused (EBUSY).
constexpr size_t kMostJobs = 64;
constexpr size_t kMostCaptures = 8;
// Echoes started per second, with as many at once after a quiet second; more are refused
// (EAGAIN), so the group cannot flood a network through the helper.
constexpr double kEchoesPerSecond = 100;

// Closes every descriptor but the channel, and puts /dev/null on 0, 1 and 2, so that nothing
// the caller left open reaches the helper's work and no library's message reaches the channel.
bool KeepOnlyTheChannel() {
  if (!CloseDescriptorsAbove(kHelperChannelFd)) return false;
  for (int fd = 0; fd < kHelperChannelFd; ++fd) close(fd);
  const int null = open("/dev/null", O_RDWR);  // takes descriptor 0
  return null == 0 && dup2(null, 1) == 1 && dup2(null, 2) == 2 &&
         fcntl(kHelperChannelFd, F_SETFD, FD_CLOEXEC) == 0;
}

// The channel is a socket pair of the window's, not whatever descriptor 3 a shell left.
bool IsWindowChannel(int fd) {
  int type = 0, domain = 0;
  socklen_t size = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0) return false;
  size = sizeof domain;
  return getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 && type == SOCK_SEQPACKET &&
         domain == AF_UNIX;
}

// Forgets the environment it was started with, its strings too: nothing the caller put there
// is read, or left in memory.
bool ClearEnvironment() {
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::memset(*entry, 0, std::strlen(*entry));
  }
  return clearenv() == 0;
}

bool PrepareProcess() {
  if (!ClearEnvironment() || !IsWindowChannel(kHelperChannelFd) || !KeepOnlyTheChannel()) {
    return false;
  }
  // Neither traced nor dumped by the group's members, and no program it could start would gain
  // a privilege.
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    return false;
  }
  signal(SIGPIPE, SIG_IGN);  // a closed pipe or channel is an error value, not the end
  return KeepOnlyPermitted(HelperCapabilities());
}

// At most kEchoesPerSecond echoes a second on average.
class EchoRate {
 public:
  bool take() {
    const Clock::time_point now = Clock::now();
    tokens_ =
        std::min(kEchoesPerSecond,
                 tokens_ + std::chrono::duration<double>(now - last_).count() * kEchoesPerSecond);
    last_ = now;
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    return true;
  }

 private:
  double tokens_ = kEchoesPerSecond;
  Clock::time_point last_ = Clock::now();
};

// The requests being served, each on a thread of its own, with the descriptor that cancels it.
class Jobs {
 public:
  explicit Jobs(int channel) : channel_(channel) {}

  // 0 when the job started, else the errno to refuse it with.
  int start(const HelperRequest& request, void (*run)(const HelperJob&)) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_.count(request.id) != 0) return EINVAL;  // an id in use names one request
    if (running_.size() >= kMostJobs) return EBUSY;
    if (request.type == kHelperCapture && captures_ >= kMostCaptures) return EBUSY;
    HelperJob job{channel_, request, eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    if (job.wakeFd < 0) return EAGAIN;
    try {
      std::thread([this, job, run] {
        run(job);
        finish(job);
      }).detach();
    } catch (const std::system_error&) {
      close(job.wakeFd);
      return EAGAIN;
    }
    running_.emplace(request.id, job.wakeFd);
    if (request.type == kHelperCapture) ++captures_;
    return 0;
  }

  void cancel(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = running_.find(id);
    if (found == running_.end()) return;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(found->second, &one, sizeof one);
  }

 private:
  void finish(const HelperJob& job) {
    std::lock_guard<std::mutex> lock(mutex_);
    running_.erase(job.request.id);
    if (job.request.type == kHelperCapture) --captures_;
    close(job.wakeFd);
  }

  const int channel_;
  std::mutex mutex_;
  std::unordered_map<uint32_t, int> running_;  // request id -> its wake-up descriptor
  size_t captures_ = 0;
};

void SendAbilities(int channel, uint32_t id) {
  auto reply = NewHelperRecord<HelperAbilitiesReply>(kHelperAbilities, id);
  reply.capabilities = PermittedCapabilities();
  SendHelperRecord(channel, &reply, sizeof reply);
}

// Acts on one request: 0, or the errno it is refused with.
int Dispatch(int channel, const HelperRequest& request, Jobs& jobs, EchoRate& echoes) {
  switch (request.type) {
    case kHelperHello:
      SendAbilities(channel, request.id);
      return 0;
    case kHelperCancel:
      jobs.cancel(request.id);
      return 0;
    case kHelperEcho:
      return echoes.take() ? jobs.start(request, RunEcho) : EAGAIN;
    case kHelperCapture:
      return jobs.start(request, RunCapture);
    case kHelperKill:
      return jobs.start(request, RunKill);
    case kHelperFlush:
      return jobs.start(request, RunFlush);
    case kHelperOwners:
      return jobs.start(request, RunOwners);
    case kHelperFact:
      return jobs.start(request, RunFact);
    default:
      return EINVAL;
  }
}

// Serves requests until the window closes the channel. A request that cannot be read is
// answered with EINVAL, and the next one is served.
void Serve(int channel) {
  Jobs jobs(channel);
  EchoRate echoes;
  std::vector<uint8_t> record(kHelperRecordLimit);
  for (;;) {
    // Descriptors passed along are not taken: the kernel closes them.
    const ssize_t n = recv(channel, record.data(), record.size(), MSG_TRUNC);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    HelperRequest request;
    int error = DecodeHelperRequest(record.data(), std::min(size_t(n), record.size()), &request);
    if (size_t(n) > record.size()) error = EINVAL;  // longer than any request
    if (error == 0) error = Dispatch(channel, request, jobs, echoes);
    if (error != 0) SendHelperStatus(channel, request.id, error);
  }
}

}  // namespace

int main() {
  if (!PrepareProcess()) return 1;
  Serve(kHelperChannelFd);
  // Jobs may still run; the kernel ends them and frees what they hold.
  _exit(0);
}
