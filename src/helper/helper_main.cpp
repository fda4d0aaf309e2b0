// pelorin-helper: the privileged work of the Pelorin window, which holds no capability itself.
// Started by a window on a socket pair (its descriptor 3), it serves the requests of
// helper_protocol.h until its windows have gone. Any member of the group allowed to run it may
// send anything, so it trusts nothing: it starts with an empty environment and only its own
// descriptors, can neither be traced nor gain privileges, keeps only the capabilities it uses in
// its permitted set and raises one only around the call that needs it, checks every field of
// every request, and never reads or returns a file's contents, runs another program or hands
// out a socket.
//
// Its limits (requests and captures at once, echoes a second) are a member's in a network
// namespace, not one window's: the first helper of a user in a namespace listens at the meeting
// place (helper_channel.h), later windows of that user meet it there, and a helper started while
// another serves the user ends at once, so a member cannot multiply the limits by starting
// helpers. Every thread it has is one serving a request or one reading a window's channel, and
// there are at most kMostThreads: a window that sends more than that without reading its replies
// waits for its own.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sys/capabilities.h"
#include "wire/helper_channel.h"
#include "helper/helper_operations.h"

namespace {

using Clock = std::chrono::steady_clock;

// Requests served at once, captures among them, over all windows; more are refused (EBUSY).
constexpr size_t kMostJobs = 64;
constexpr size_t kMostCaptures = 8;
// Windows served at once; one more is let go as it comes.
constexpr size_t kMostWindows = 8;
// Every thread: those serving requests, and one reading each window's channel.
constexpr size_t kMostThreads = kMostJobs + kMostWindows;
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

// The uid of the process at the other end of a connected socket, or -1.
int64_t PeerUid(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return -1;
  return peer.uid;
}

enum class Claim { Listening, ServedElsewhere, Alone };

// Takes this user's meeting place in this network namespace. Held by a process of the same
// user: that helper serves the user here (a process of the user's own that holds the place only
// keeps the user from the helper). Held by another user's process, which may not stand in the
// user's way: this helper serves its window alone.
Claim ClaimMeetingPlace(int* listener) {
  struct stat self {};
  if (stat("/proc/self/exe", &self) != 0) return Claim::Alone;
  const sockaddr_un place = HelperMeetingPlace(getuid(), self.st_dev, self.st_ino);
  const socklen_t size = HelperMeetingPlaceSize(place);
  *listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (*listener < 0) return Claim::Alone;
  if (bind(*listener, reinterpret_cast<const sockaddr*>(&place), size) == 0 &&
      listen(*listener, int(kMostWindows)) == 0) {
    return Claim::Listening;
  }
  const bool taken = errno == EADDRINUSE;
  close(*listener);
  *listener = -1;
  if (!taken) return Claim::Alone;
  const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (probe < 0) return Claim::Alone;
  const bool mine = connect(probe, reinterpret_cast<const sockaddr*>(&place), size) == 0 &&
                    PeerUid(probe) == int64_t(getuid());
  close(probe);
  return mine ? Claim::ServedElsewhere : Claim::Alone;
}

// Whether the peer of a channel has gone: a record of no bytes reads as 0 as well.
bool PeerGone(int channel) {
  pollfd p{channel, POLLIN | POLLRDHUP, 0};
  return poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
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

// What every window's requests share: the limits, and the count of threads and windows.
struct Shared {
  std::mutex mutex;
  size_t jobs = 0;
  size_t captures = 0;
  size_t threads = 1;  // the first thread, which serves the first window
  size_t windows = 0;
  EchoRate echoes;
};

// One window's channel. Every thread of a channel reads it, and the thread that receives a
// request serves it itself; before it starts work that may wait (an echo, a capture), it makes
// sure that another thread reads on where the limit allows, so no request waits behind another
// and a cancel finds a reader. Threads stay once started: starting one per request costs more
// than a quick request itself. When the window has gone its requests are cancelled, and the
// helper ends with its last window.
class Window : public std::enable_shared_from_this<Window> {
 public:
  Window(int fd, Shared& shared) : fd_(fd), shared_(shared) {}
  ~Window() { close(fd_); }

  // A thread's life on this window.
  void read() {
    std::vector<uint8_t> record(kHelperRecordLimit);
    for (;;) {
      // Descriptors passed along are not taken: the kernel closes them.
      const ssize_t n = recv(fd_, record.data(), record.size(), MSG_TRUNC);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || (n == 0 && PeerGone(fd_))) break;
      changeReaders(-1);
      HelperRequest request;
      int error = DecodeHelperRequest(record.data(), std::min(size_t(n), record.size()), &request);
      if (size_t(n) > record.size()) error = EINVAL;  // longer than any request
      if (error == 0) error = serve(request);
      if (error != 0) SendHelperStatus(fd_, request.id, error);
      changeReaders(+1);
    }
    gone();
  }

  // Starts a thread that reads this window; false when the limit or the system refuses one.
  bool startReader() {
    try {
      std::thread([self = shared_from_this()] {
        self->read();
        std::lock_guard<std::mutex> lock(self->shared_.mutex);
        --self->shared_.threads;
      }).detach();
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

 private:
  // Serves one request: 0, or the errno it is refused with.
  int serve(const HelperRequest& request) {
    if (request.type == kHelperHello) {
      auto reply = NewHelperRecord<HelperAbilitiesReply>(kHelperAbilities, request.id);
      reply.capabilities = PermittedCapabilities();
      SendHelperRecord(fd_, &reply, sizeof reply);
      return 0;
    }
    if (request.type == kHelperCancel) {
      cancel(request.id);
      return 0;
    }
    const auto work = WorkOf(request.type);
    if (work == nullptr) return EINVAL;
    HelperJob job{fd_, request, -1};
    if (const int error = begin(job); error != 0) return error;
    work(job);
    end(job);
    return 0;
  }

  // Takes the job in, with its wake-up descriptor, and a thread to read on meanwhile.
  int begin(HelperJob& job) {
    const HelperRequest& request = job.request;
    std::lock_guard<std::mutex> windowLock(mutex_);
    std::lock_guard<std::mutex> lock(shared_.mutex);
    if (running_.count(request.id) != 0) return EINVAL;  // an id in use names one request
    if (shared_.jobs >= kMostJobs) return EBUSY;
    if (request.type == kHelperCapture && shared_.captures >= kMostCaptures) return EBUSY;
    if (request.type == kHelperEcho && !shared_.echoes.take()) return EAGAIN;
    job.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (job.wakeFd < 0) return EAGAIN;
    // Without a spare thread under the limit this window waits for one of its own to finish.
    if (readers_ == 0 && shared_.threads < kMostThreads && startReader()) {
      ++readers_;
      ++shared_.threads;
    }
    running_.emplace(request.id, job.wakeFd);
    ++shared_.jobs;
    if (request.type == kHelperCapture) ++shared_.captures;
    return 0;
  }

  void end(const HelperJob& job) {
    std::lock_guard<std::mutex> windowLock(mutex_);
    std::lock_guard<std::mutex> lock(shared_.mutex);
    running_.erase(job.request.id);
    --shared_.jobs;
    if (job.request.type == kHelperCapture) --shared_.captures;
    close(job.wakeFd);
  }

  void changeReaders(int change) {
    std::lock_guard<std::mutex> lock(mutex_);
    readers_ += change;
  }

  void cancel(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = running_.find(id);
    if (found != running_.end()) Wake(found->second);
  }

  // The window has gone: its waiting requests end now, and with the last window the helper.
  void gone() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (std::exchange(gone_, true)) return;
      for (const auto& [id, wakeFd] : running_) Wake(wakeFd);
    }
    std::lock_guard<std::mutex> lock(shared_.mutex);
    if (--shared_.windows == 0) _exit(0);  // the kernel ends the other threads and their work
  }

  static void Wake(int wakeFd) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd, &one, sizeof one);
  }

  const int fd_;
  Shared& shared_;
  std::mutex mutex_;  // taken before shared_.mutex when both are
  int readers_ = 1;   // threads reading the channel, or about to
  bool gone_ = false;
  std::unordered_map<uint32_t, int> running_;  // request id -> its wake-up descriptor
};

// Takes the windows that come to the meeting place: the user's own processes only, and no more
// than kMostWindows at once.
[[noreturn]] void MeetWindows(int listener, Shared& shared) {
  for (;;) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    bool taken = false;
    if (PeerUid(fd) == int64_t(getuid())) {
      std::lock_guard<std::mutex> lock(shared.mutex);
      if (shared.windows < kMostWindows && shared.threads < kMostThreads) {
        auto window = std::make_shared<Window>(fd, shared);
        taken = window->startReader();
        if (taken) {
          ++shared.windows;
          ++shared.threads;
        }
      }
    }
    if (!taken) close(fd);
  }
}

}  // namespace

int main() {
  if (!PrepareProcess()) return 1;
  int listener = -1;
  const Claim claim = ClaimMeetingPlace(&listener);
  if (claim == Claim::ServedElsewhere) return kHelperServedElsewhere;
  static Shared shared;  // its threads outlive this function's frame
  auto first = std::make_shared<Window>(kHelperChannelFd, shared);
  shared.windows = 1;
  // The window learns that this helper serves it, and not another.
  const auto ready = NewHelperRecord<HelperAbilitiesReply>(kHelperAbilities, 0);
  if (SendHelperRecord(kHelperChannelFd, &ready, sizeof ready) != 0) return 0;
  if (claim == Claim::Alone) {
    first->read();
    return 0;
  }
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (!first->startReader()) return 1;
    ++shared.threads;
  }
  MeetWindows(listener, shared);
}
