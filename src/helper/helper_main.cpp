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

// The work a request needs, or none for the requests answered at once.
void (*WorkOf(HelperRecordType type))(const HelperJob&) {
  switch (type) {
    case kHelperEcho:
      return RunEcho;
    case kHelperCapture:
      return RunCapture;
    case kHelperKill:
      return RunKill;
    case kHelperFlush:
      return RunFlush;
    case kHelperOwners:
      return RunOwners;
    case kHelperFact:
      return RunFact;
    default:
      return nullptr;
  }
}

// Serves the requests until the window closes the channel. Every thread reads the channel, and
// the thread that receives a request serves it itself; before it starts work that may wait
// (an echo, a capture), it makes sure that another thread reads on, so no request waits behind
// another and a cancel always finds a reader. Threads stay once started: starting one per
// request costs more than a quick request itself.
class Service {
 public:
  explicit Service(int channel) : channel_(channel) {}

  // A thread's life; the process ends when the window has gone.
  void read() {
    std::vector<uint8_t> record(kHelperRecordLimit);
    for (;;) {
      // Descriptors passed along are not taken: the kernel closes them.
      const ssize_t n = recv(channel_, record.data(), record.size(), MSG_TRUNC);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) _exit(0);  // the kernel ends the other threads and the work they do
      changeReaders(-1);
      HelperRequest request;
      int error = DecodeHelperRequest(record.data(), std::min(size_t(n), record.size()), &request);
      if (size_t(n) > record.size()) error = EINVAL;  // longer than any request
      if (error == 0) error = serve(request);
      if (error != 0) SendHelperStatus(channel_, request.id, error);
      changeReaders(+1);
    }
  }

 private:
  // Serves one request: 0, or the errno it is refused with.
  int serve(const HelperRequest& request) {
    if (request.type == kHelperHello) {
      auto reply = NewHelperRecord<HelperAbilitiesReply>(kHelperAbilities, request.id);
      reply.capabilities = PermittedCapabilities();
      SendHelperRecord(channel_, &reply, sizeof reply);
      return 0;
    }
    if (request.type == kHelperCancel) {
      cancel(request.id);
      return 0;
    }
    const auto work = WorkOf(request.type);
    if (work == nullptr) return EINVAL;
    HelperJob job{channel_, request, -1};
    if (const int error = begin(job); error != 0) return error;
    work(job);
    end(job);
    return 0;
  }

  // Takes the job in, with its wake-up descriptor, and a thread to read on meanwhile.
  int begin(HelperJob& job) {
    const HelperRequest& request = job.request;
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_.count(request.id) != 0) return EINVAL;  // an id in use names one request
    if (running_.size() >= kMostJobs) return EBUSY;
    if (request.type == kHelperCapture && captures_ >= kMostCaptures) return EBUSY;
    if (request.type == kHelperEcho && !echoes_.take()) return EAGAIN;
    job.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (job.wakeFd < 0) return EAGAIN;
    if (readers_ == 0) {
      try {
        std::thread([this] { read(); }).detach();
      } catch (const std::system_error&) {
        close(job.wakeFd);
        return EAGAIN;
      }
      ++readers_;
    }
    running_.emplace(request.id, job.wakeFd);
    if (request.type == kHelperCapture) ++captures_;
    return 0;
  }

  void end(const HelperJob& job) {
    std::lock_guard<std::mutex> lock(mutex_);
    running_.erase(job.request.id);
    if (job.request.type == kHelperCapture) --captures_;
    close(job.wakeFd);
  }

  void changeReaders(int change) {
    std::lock_guard<std::mutex> lock(mutex_);
    readers_ += change;
  }

  void cancel(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = running_.find(id);
    if (found == running_.end()) return;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(found->second, &one, sizeof one);
  }

  const int channel_;
  std::mutex mutex_;
  int readers_ = 1;                            // threads reading the channel, or about to
  std::unordered_map<uint32_t, int> running_;  // request id -> its wake-up descriptor
  size_t captures_ = 0;
  EchoRate echoes_;
};

}  // namespace

int main() {
  if (!PrepareProcess()) return 1;
  static Service service(kHelperChannelFd);  // its threads outlive this function's frame
  service.read();
}
