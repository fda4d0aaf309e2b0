#include "whois_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "sys/socket_address.h"

TestWhoisServer::TestWhoisServer(const std::string& address, WhoisServerScript script)
    : script_(std::move(script)) {
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const SocketAddress at = MakeSocketAddress(ParseIpAddress(address).value_or(IpAddress()), 43);
  const int fd = socket(at.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd >= 0 && bind(fd, at.get(), at.length) == 0 && listen(fd, 8) == 0) {
    listenFd_ = fd;
    thread_ = std::thread([this] { serve(); });
  } else if (fd >= 0) {
    close(fd);
  }
}

TestWhoisServer::~TestWhoisServer() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(stopFd_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) close(listenFd_);
  if (stopFd_ >= 0) close(stopFd_);
}

std::vector<std::string> TestWhoisServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

size_t TestWhoisServer::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

// Waits for `events` on fd; false when the test is ending or the time is up (-1: no limit).
bool TestWhoisServer::waitFor(int fd, short events, int timeoutMs) {
  pollfd fds[2] = {{fd, events, 0}, {stopFd_, POLLIN, 0}};
  for (;;) {
    const int n = poll(fds, 2, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || fds[1].revents != 0) return false;
    return fds[0].revents != 0;
  }
}

void TestWhoisServer::serve() {
  while (waitFor(listenFd_, POLLIN, -1)) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;
    handle(fd);
    close(fd);
  }
}

// The request line ends in CR LF; at most 1000 bytes are read.
bool TestWhoisServer::readRequest(int fd, std::string& request) {
  char buffer[1000];
  while (request.find("\r\n") == std::string::npos && request.size() < sizeof buffer) {
    if (!waitFor(fd, POLLIN, 5000)) return false;
    const ssize_t n = recv(fd, buffer, sizeof buffer - request.size(), 0);
    if (n < 0 && errno == EAGAIN) continue;
    if (n <= 0) return false;
    request.append(buffer, size_t(n));
  }
  return true;
}

void TestWhoisServer::handle(int fd) {
  std::string request;
  const bool complete = readRequest(fd, request);
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  if (!complete) return;

  const auto sendAll = [&](const std::string& piece) {
    size_t sent = 0;
    while (sent < piece.size()) {
      const ssize_t n = send(fd, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += size_t(n);
      } else if (n < 0 && errno == EAGAIN) {
        if (!waitFor(fd, POLLOUT, 5000)) return false;
      } else {
        return false;
      }
    }
    return true;
  };

  using End = WhoisServerScript::End;
  if (script_.end == End::Endless) {
    while (sendAll(script_.pieces.at(0))) {
    }
    clientsGone_++;
    return;
  }
  for (size_t i = 0; i < script_.pieces.size(); ++i) {
    if (i > 0 && script_.pauseMs > 0) usleep(useconds_t(script_.pauseMs) * 1000);
    if (!sendAll(script_.pieces[i])) return;
  }
  if (script_.end == End::Reset) {
    usleep(100 * 1000);  // let the client read what was sent first
    const linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  } else if (script_.end == End::Hold) {
    char byte;
    while (waitFor(fd, POLLIN, -1)) {
      const ssize_t n = recv(fd, &byte, 1, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN)) {
        clientsGone_++;
        return;
      }
    }
  }
}
