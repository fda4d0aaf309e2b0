#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "sys/net_event.h"

namespace {

int PendingError(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

int IntOption(int fd, int option) {
  int value = 0;
  socklen_t length = sizeof value;
  if (getsockopt(fd, SOL_SOCKET, option, &value, &length) != 0) return -1;
  return value;
}

// What a stream socket holds for the reader, as a one-byte peek finds it. The peek reads as
// recv() does, so it steps over an urgent byte the way the reads will, where FIONREAD counts
// only the bytes before the urgent mark and would take data behind it for the end.
enum class Readable { Data, End, Nothing, Failed };

Readable PeekStream(int fd, int* error) {
  uint8_t byte = 0;
  for (;;) {
    const ssize_t n = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) return Readable::Data;
    if (n == 0) return Readable::End;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Readable::Nothing;
    *error = errno;  // the socket's pending error (a reset), which the peek has taken
    return Readable::Failed;
  }
}

}  // namespace

NetEvent::NetEvent() {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) createError_ = errno;
}

NetEvent::~NetEvent() {
  if (wakeFd_ >= 0) close(wakeFd_);
}

void NetEvent::select(int fd, uint32_t mask) {
  fd_ = fd;
  mask_ = mask;
  refusedError_ = 0;
  writeArmed_ = false;
  if (fd < 0) {
    role_ = Role::None;
    return;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);

  if (IntOption(fd, SO_TYPE) != SOCK_STREAM) {
    role_ = Role::Datagram;
    writeArmed_ = true;
  } else if (IntOption(fd, SO_ACCEPTCONN) == 1) {
    role_ = Role::Listening;
  } else {
    role_ = Role::Idle;
  }
}

void NetEvent::accepted() {
  if (fd_ < 0) return;
  role_ = Role::Connected;  // it can send at once
  writeArmed_ = true;
}

void NetEvent::listenStarted() {
  if (fd_ >= 0) role_ = Role::Listening;
}

void NetEvent::connectStarted(int error) {
  if (fd_ < 0) return;
  role_ = Role::Connecting;
  refusedError_ = error;
}

void NetEvent::sendBlocked() {
  writeArmed_ = true;
  signal();  // the worker's poll does not watch for writing yet
}

void NetEvent::signal() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

short NetEvent::interest() const {
  const bool wantWrite = (mask_ & kNetWrite) && writeArmed_.load();
  switch (role_) {
    case Role::Datagram:
      return short(((mask_ & kNetRead) ? POLLIN : 0) | (wantWrite ? POLLOUT : 0));
    case Role::Listening:
      return (mask_ & kNetAccept) ? POLLIN : 0;
    case Role::Connecting:
      return POLLOUT;
    case Role::Connected:
      // Without read selected, only the peer's shut-down is watched: waiting data would
      // otherwise wake the worker again and again.
      return short(((mask_ & kNetRead) ? POLLIN : 0) | POLLRDHUP | (wantWrite ? POLLOUT : 0));
    default:
      return 0;
  }
}

bool NetEvent::wait(int timeoutMs, int stopFd) {
  if (role_ == Role::Connecting && refusedError_ != 0) return true;
  const short events = interest();
  pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {events != 0 ? fd_ : -1, events, 0}, {stopFd, POLLIN, 0}};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int left = timeoutMs;
    if (timeoutMs > 0) {
      const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      left = remaining.count() > 0 ? int(remaining.count()) : 0;
    }
    const int ready = poll(fds, 3, left);
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

NetEvents NetEvent::take() {
  if (wakeFd_ >= 0) {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
  }
  NetEvents out;
  if (role_ == Role::Connecting && refusedError_ != 0) {
    out.events |= kNetConnect & mask_;
    out.connectError = refusedError_;
    refusedError_ = 0;
    role_ = Role::Done;
    return out;
  }
  const short events = interest();
  if (fd_ < 0 || events == 0) return out;
  pollfd p{fd_, events, 0};
  if (poll(&p, 1, 0) <= 0) return out;

  switch (role_) {
    case Role::Datagram:
      // An error queued on the socket (an ICMP report) is taken by the next receive.
      if ((mask_ & kNetRead) && (p.revents & (POLLIN | POLLERR))) out.events |= kNetRead;
      if ((p.revents & POLLOUT) && writeArmed_.exchange(false)) out.events |= kNetWrite;
      break;
    case Role::Listening:
      if (p.revents & (POLLIN | POLLERR)) {
        out.events |= kNetAccept;
        if (p.revents & POLLERR) out.acceptError = PendingError(fd_);
      }
      break;
    case Role::Connecting:
      takeConnecting(p.revents, out);
      break;
    case Role::Connected:
      takeConnected(p.revents, out);
      break;
    default:
      break;
  }
  return out;
}

void NetEvent::takeConnecting(short revents, NetEvents& out) {
  if (!(revents & (POLLOUT | POLLERR | POLLHUP))) return;
  const int error = PendingError(fd_);
  if (mask_ & kNetConnect) {
    out.events |= kNetConnect;
    out.connectError = error;
  }
  if (error != 0) {
    role_ = Role::Done;  // a failed connect reports nothing more
    return;
  }
  // Write comes with the connect; data and the peer's close wait for the next take, so they
  // are never reported ahead of the connect.
  role_ = Role::Connected;
  if (mask_ & kNetWrite) out.events |= kNetWrite;
}

void NetEvent::takeConnected(short revents, NetEvents& out) {
  if (revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) {
    int error = 0;
    switch (PeekStream(fd_, &error)) {
      case Readable::Data:
        out.events |= kNetRead;
        break;
      case Readable::End:  // only once nothing is left to read, so no data is lost behind it
        reportClose(PendingError(fd_), out);
        return;
      case Readable::Failed:
        reportClose(error, out);
        return;
      case Readable::Nothing:  // an urgent byte alone: not data of the stream, not its end
        if (revents & (POLLHUP | POLLERR)) {
          reportClose(PendingError(fd_), out);
          return;
        }
        break;
    }
  }
  if ((mask_ & kNetWrite) && (revents & POLLOUT) && writeArmed_.exchange(false)) {
    out.events |= kNetWrite;
  }
}

void NetEvent::reportClose(int error, NetEvents& out) {
  if (mask_ & kNetClose) {
    out.events |= kNetClose;
    out.closeError = error;
  }
  role_ = Role::Done;
}
