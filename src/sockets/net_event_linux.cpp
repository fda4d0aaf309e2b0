#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "sockets/net_event.h"

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

bool IsConnected(int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  return getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

int BytesWaiting(int fd) {
  int count = 0;
  if (ioctl(fd, FIONREAD, &count) != 0) return 0;
  return count;
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
  } else if (IsConnected(fd)) {
    role_ = Role::Connected;  // an accepted socket: it can send at once
    writeArmed_ = true;
  } else {
    role_ = Role::Idle;
  }
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

bool NetEvent::wait(int timeoutMs) {
  if (role_ == Role::Connecting && refusedError_ != 0) return true;
  const short events = interest();
  pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {events != 0 ? fd_ : -1, events, 0}};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int left = timeoutMs;
    if (timeoutMs > 0) {
      const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      left = remaining.count() > 0 ? int(remaining.count()) : 0;
    }
    const int ready = poll(fds, 2, left);
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
  const bool waiting = (revents & POLLIN) && BytesWaiting(fd_) > 0;
  if (waiting) {
    out.events |= kNetRead;
  } else if (revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) {
    // Only once nothing is left to read, so no data is lost behind it.
    if (mask_ & kNetClose) {
      out.events |= kNetClose;
      out.closeError = PendingError(fd_);
    }
    role_ = Role::Done;
    return;
  }
  if ((mask_ & kNetWrite) && (revents & POLLOUT) && writeArmed_.exchange(false)) {
    out.events |= kNetWrite;
  }
}
