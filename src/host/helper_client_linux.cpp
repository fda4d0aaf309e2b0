#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "host/helper_client.h"
#include "wire/helper_channel.h"

namespace {

using Clock = std::chrono::steady_clock;

// The network namespace of the calling thread.
struct Netns {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const Netns& other) const {
    return device == other.device && inode == other.inode;
  }
};

Netns ThisThreadsNetns() {
  struct stat info {};
  if (stat("/proc/thread-self/ns/net", &info) != 0) return {};
  return {info.st_dev, info.st_ino};
}

}  // namespace

// The replies of one request, handed over by the connection's reader thread.
struct HelperCall::Waiter {
  Waiter() : readyFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~Waiter() {
    if (readyFd >= 0) close(readyFd);
  }

  void push(HelperReply reply) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      replies.push_back(std::move(reply));
    }
    signal();
  }
  void lose(int error) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      lostError = error;
    }
    signal();
  }
  void signal() const {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(readyFd, &one, sizeof one);
  }

  std::mutex mutex;
  std::deque<HelperReply> replies;
  int lostError = 0;
  const int readyFd;  // readable while replies wait or the helper is gone
};

// One running helper: the socket to it and the requests waiting for replies.
struct HelperCall::Connection {
  ~Connection() {
    if (fd >= 0) close(fd);
  }

  // Ends the connection; the reader thread then fails what still waits.
  void letGo() const { shutdown(fd, SHUT_RDWR); }

  bool idle() {
    std::lock_guard<std::mutex> lock(mutex);
    return waiters.empty();
  }

  Netns netns;
  int fd = -1;
  pid_t pid = 0;
  bool started = false;  // a child of this process, which it waits for once it has gone
  std::atomic<bool> lost{false};
  std::mutex mutex;
  std::unordered_map<uint32_t, std::shared_ptr<Waiter>> waiters;
};

namespace {

using Connection = HelperCall::Connection;
using Waiter = HelperCall::Waiter;

// Reads the helper's replies and hands each to the request it answers, until the helper ends.
void ReadReplies(const std::shared_ptr<Connection>& connection) {
  std::vector<uint8_t> buffer(kHelperRecordLimit);
  for (;;) {
    int fd = -1;
    const ssize_t n = ReceiveHelperRecord(connection->fd, buffer.data(), buffer.size(), &fd);
    if (n < 0 && errno == EMSGSIZE) continue;
    if (n <= 0) break;
    HelperReply reply;
    reply.fd = fd;
    if (!CheckHelperReply(buffer.data(), size_t(n))) continue;
    reply.bytes.assign(buffer.begin(), buffer.begin() + n);
    const HelperHeader header = reply.as<HelperHeader>();
    std::shared_ptr<Waiter> waiter;
    {
      std::lock_guard<std::mutex> lock(connection->mutex);
      const auto found = connection->waiters.find(header.id);
      if (found == connection->waiters.end()) continue;  // a cancelled request's late reply
      waiter = found->second;
      if (IsFinalHelperReply(header.type)) connection->waiters.erase(found);
    }
    waiter->push(std::move(reply));
  }
  std::unordered_map<uint32_t, std::shared_ptr<Waiter>> orphans;
  {
    std::lock_guard<std::mutex> lock(connection->mutex);
    connection->lost = true;
    orphans.swap(connection->waiters);
  }
  for (auto& [id, waiter] : orphans) waiter->lose(EPIPE);
  if (connection->started) waitpid(connection->pid, nullptr, 0);
}

// Where the helper is: given by a test, else beside the program, else in the libexec folder of
// the prefix the program is installed under.
std::string FindHelper(const std::string& given) {
  if (!given.empty()) return given;
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  std::string folder(self, size_t(n));
  folder.resize(folder.rfind('/') + 1);
  const std::string beside = folder + "pelorin-helper";
  if (access(beside.c_str(), F_OK) == 0) return beside;
  return folder + PELORIN_HELPER_FROM_BINDIR "/pelorin-helper";
}

// The helper that serves this user in the calling thread's network namespace, met at its
// meeting place; null when none listens there, or a process of another user does.
std::shared_ptr<Connection> MeetHelper(const std::string& path) {
  struct stat helper {};
  if (path.empty() || stat(path.c_str(), &helper) != 0) return nullptr;
  const sockaddr_un place = HelperMeetingPlace(getuid(), helper.st_dev, helper.st_ino);
  auto connection = std::make_shared<Connection>();
  connection->fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  ucred peer{};
  socklen_t size = sizeof peer;
  if (connection->fd < 0 ||
      connect(connection->fd, reinterpret_cast<const sockaddr*>(&place),
              HelperMeetingPlaceSize(place)) != 0 ||
      getsockopt(connection->fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
      peer.uid != getuid()) {
    return nullptr;
  }
  connection->pid = peer.pid;
  return connection;
}

// Waits for the first record of a helper just started: it serves this window (true), or it
// ended at once, `servedElsewhere` when another helper serves the user here.
bool WaitUntilServing(Connection& connection, bool* servedElsewhere) {
  HelperAbilitiesReply ready{};
  pollfd p{connection.fd, POLLIN, 0};
  int polled = 0;
  while ((polled = poll(&p, 1, kHelperQuickTimeoutMs)) < 0 && errno == EINTR) {
  }
  const ssize_t n = polled == 1 ? ReceiveHelperRecord(connection.fd, &ready, sizeof ready) : -1;
  if (n == ssize_t(sizeof ready) && ready.header.type == kHelperAbilities && ready.header.id == 0) {
    return true;
  }
  int status = 0;
  if (n == 0 && waitpid(connection.pid, &status, 0) == connection.pid) {
    connection.started = false;  // waited for
    *servedElsewhere = WIFEXITED(status) && WEXITSTATUS(status) == kHelperServedElsewhere;
  }
  return false;
}

// Starts the helper on a new socket pair, with an empty environment and default signals; its
// end of the pair is its descriptor kHelperChannelFd. Null when it cannot be started or does
// not serve; `servedElsewhere` when another helper already serves the user here.
std::shared_ptr<Connection> StartHelper(const std::string& path, bool* servedElsewhere) {
  *servedElsewhere = false;
  if (path.empty()) return nullptr;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return nullptr;
  if (pair[1] == kHelperChannelFd) {  // dup2 onto itself would keep close-on-exec
    const int moved = fcntl(pair[1], F_DUPFD_CLOEXEC, kHelperChannelFd + 1);
    close(pair[1]);
    pair[1] = moved;
  }
  auto connection = std::make_shared<Connection>();
  connection->fd = pair[0];
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  int started = pair[1] >= 0 ? 0 : EMFILE;
  if (started == 0) {
    started = posix_spawn_file_actions_adddup2(&actions, pair[1], kHelperChannelFd);
  }
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  char* environment[] = {nullptr};
  if (started == 0) {
    started = posix_spawn(&connection->pid, path.c_str(), &actions, &attributes, argv, environment);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (pair[1] >= 0) close(pair[1]);
  if (started != 0) return nullptr;  // the connection closes its end
  connection->started = true;
  if (!WaitUntilServing(*connection, servedElsewhere)) {
    if (connection->started) {
      kill(connection->pid, SIGKILL);  // one that says nothing is of no use
      waitpid(connection->pid, nullptr, 0);
    }
    return nullptr;
  }
  return connection;
}

// The helper serving this user here, or one started to serve it.
std::shared_ptr<Connection> ReachHelper(const std::string& path) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (auto met = MeetHelper(path)) return met;
    bool servedElsewhere = false;
    if (auto started = StartHelper(path, &servedElsewhere)) return started;
    if (!servedElsewhere) break;  // else the other one started meanwhile: meet it
  }
  return nullptr;
}

// The helpers of this process, one per network namespace that asked for one.
class Helpers {
 public:
  static Helpers& Get() {
    static Helpers* helpers = new Helpers;  // never destroyed: its threads may outlive main
    return *helpers;
  }

  void useAt(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
    for (const auto& connection : connections_) connection->letGo();
    connections_.clear();
  }

  // The helper of the calling thread's namespace, started when none runs; null when it cannot
  // be. Starting one lets go of the idle helpers of other namespaces.
  std::shared_ptr<Connection> forThisThread() {
    const Netns netns = ThisThreadsNetns();
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(connections_, [](const auto& c) { return c->lost.load(); });
    for (const auto& connection : connections_) {
      if (connection->netns == netns) return connection;
    }
    std::erase_if(connections_, [](const auto& c) {
      if (!c->idle()) return false;
      c->letGo();
      return true;
    });
    std::shared_ptr<Connection> connection = ReachHelper(FindHelper(path_));
    if (!connection) return nullptr;
    connection->netns = netns;
    try {
      std::thread([connection] { ReadReplies(connection); }).detach();
    } catch (const std::system_error&) {
      connection->letGo();  // the helper ends with its channel
      return nullptr;
    }
    connections_.push_back(connection);
    return connection;
  }

  // Forgets a helper that failed a send; the next request starts another.
  void drop(const std::shared_ptr<Connection>& connection) {
    connection->letGo();
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase(connections_, connection);
  }

  pid_t runningId() {
    const Netns netns = ThisThreadsNetns();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& connection : connections_) {
      if (connection->netns == netns && !connection->lost) return connection->pid;
    }
    return 0;
  }

  uint32_t newId() {
    uint32_t id;
    while ((id = ++lastId_) == 0) {
    }
    return id;
  }

 private:
  std::mutex mutex_;
  std::string path_;
  std::vector<std::shared_ptr<Connection>> connections_;
  std::atomic<uint32_t> lastId_{0};
};

}  // namespace

void UseHelperAt(const std::string& path) {
  Helpers::Get().useAt(path);
}

pid_t RunningHelperId() {
  return Helpers::Get().runningId();
}

HelperReply::HelperReply(HelperReply&& other) noexcept
    : bytes(std::move(other.bytes)), fd(std::exchange(other.fd, -1)) {}

HelperReply& HelperReply::operator=(HelperReply&& other) noexcept {
  if (this != &other) {
    if (fd >= 0) close(fd);
    bytes = std::move(other.bytes);
    fd = std::exchange(other.fd, -1);
  }
  return *this;
}

HelperReply::~HelperReply() {
  if (fd >= 0) close(fd);
}

uint16_t HelperReply::type() const {
  return as<HelperHeader>().type;
}

int HelperReply::error() const {
  switch (type()) {
    case kHelperStatus:
      return as<HelperStatusReply>().error;
    case kHelperCaptureEnded:
      return as<HelperCaptureEndedReply>().error;
    default:
      return 0;
  }
}

int HelperReply::takeFd() {
  return std::exchange(fd, -1);
}

void HelperCall::send(HelperHeader* header, size_t size) {
  // A helper that ended since the last request is only noticed now: one more try starts anew.
  for (int attempt = 0; attempt < 2; ++attempt) {
    connection_ = Helpers::Get().forThisThread();
    if (!connection_) {
      error_ = EPERM;
      return;
    }
    waiter_ = std::make_shared<Waiter>();
    if (waiter_->readyFd < 0) {
      error_ = errno;
      return;
    }
    id_ = Helpers::Get().newId();
    header->id = id_;
    {
      std::lock_guard<std::mutex> lock(connection_->mutex);
      if (!connection_->lost) connection_->waiters.emplace(id_, waiter_);
    }
    error_ = connection_->lost ? EPIPE : SendHelperRecord(connection_->fd, header, size);
    if (error_ == 0) return;
    {
      std::lock_guard<std::mutex> lock(connection_->mutex);
      connection_->waiters.erase(id_);
    }
    Helpers::Get().drop(connection_);
  }
  error_ = EPERM;
}

HelperCall::~HelperCall() {
  if (error_ != 0 || finished_ || !connection_) return;
  {
    std::lock_guard<std::mutex> lock(connection_->mutex);
    connection_->waiters.erase(id_);
  }
  HelperBareRecord cancel = NewHelperRecord<HelperBareRecord>(kHelperCancel, id_);
  SendHelperRecord(connection_->fd, &cancel, sizeof cancel);
}

int HelperCall::next(HelperReply& reply, int wakeFd, int timeoutMs) {
  if (error_ != 0) return error_;
  if (finished_) return EPIPE;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(waiter_->mutex);
      if (!waiter_->replies.empty()) {
        reply = std::move(waiter_->replies.front());
        waiter_->replies.pop_front();
        finished_ = IsFinalHelperReply(reply.type());
        return 0;
      }
      if (waiter_->lostError != 0) {
        finished_ = true;
        return waiter_->lostError;
      }
    }
    int waitMs = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      waitMs = int(std::max<int64_t>(0, left.count()));
    }
    pollfd fds[2] = {{waiter_->readyFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int ready = poll(fds, wakeFd >= 0 ? 2 : 1, waitMs);
    if (ready < 0 && errno != EINTR) return errno;
    if (wakeFd >= 0 && fds[1].revents != 0) return ECANCELED;  // the destructor cancels it
    if (ready == 0) return ETIMEDOUT;
    uint64_t count;
    [[maybe_unused]] ssize_t n = read(waiter_->readyFd, &count, sizeof count);
  }
}

int HelperCall::Finish(HelperCall& call, HelperReply& reply, int timeoutMs) {
  const int error = call.next(reply, -1, timeoutMs);
  if (error != 0) return error;
  return reply.type() == kHelperStatus ? reply.error() : 0;
}
