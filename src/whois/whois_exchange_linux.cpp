#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <new>

#include "sys/socket_address.h"
#include "whois/whois_exchange.h"

namespace {

class SocketHandle {
 public:
  explicit SocketHandle(int family) : fd_(Open(family)) {}
  ~SocketHandle() {
    if (fd_ >= 0) close(fd_);
  }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  int fd() const { return fd_; }

  // A socket of the other family in place of this one; false when it cannot be had.
  bool reopen(int family) {
    if (fd_ >= 0) close(fd_);
    fd_ = Open(family);
    return fd_ >= 0;
  }

 private:
  static int Open(int family) {
    return socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  }

  int fd_;
};

enum class Wait { Ready, Cancelled, Failed };

// Waits until the socket reports `events` (or an error or hang-up) or the run is cancelled.
Wait WaitFor(int fd, short events, const RunToken& token) {
  pollfd fds[2] = {{fd, events, 0}, {token.wakeFd(), POLLIN, 0}};
  const nfds_t count = token.wakeFd() >= 0 ? 2 : 1;
  // Without a wake-up descriptor the wait is sliced so cancellation is still seen.
  const int slice = token.wakeFd() >= 0 ? -1 : 100;
  for (;;) {
    if (token.cancelled()) return Wait::Cancelled;
    const int n = poll(fds, count, slice);
    if (n < 0 && errno != EINTR) return Wait::Failed;
    if (token.cancelled()) return Wait::Cancelled;
    if (n > 0 && fds[0].revents != 0) return Wait::Ready;
  }
}

// The server's address, or nothing when it neither is one nor resolves.
std::optional<IpAddress> ServerAddress(const std::string& server, const HostLookups& lookups) {
  if (IsDottedAddress(server)) return IpAddress::Ipv4(inet_addr(server.c_str()));
  if (const std::optional<IpAddress> ipv6 = ParseIpv6Address(server)) return ipv6;
  char resolved[kResolveWorkBuffer];
  if (!ResolveHostWith(lookups, server.c_str(), resolved, sizeof resolved)) return std::nullopt;
  return ParseIpAddress(resolved);
}

WhoisExchangeStatus Connect(int fd, const IpAddress& address, unsigned short port,
                            const RunToken& token) {
  const SocketAddress to = MakeSocketAddress(address, port);
  if (connect(fd, to.get(), to.length) == 0) return WhoisExchangeStatus::Ok;
  if (errno != EINPROGRESS) return WhoisExchangeStatus::ConnectFailed;
  const Wait wait = WaitFor(fd, POLLOUT, token);
  if (wait == Wait::Cancelled) return WhoisExchangeStatus::Cancelled;
  if (wait == Wait::Failed) return WhoisExchangeStatus::ConnectFailed;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
    return WhoisExchangeStatus::ConnectFailed;
  }
  return WhoisExchangeStatus::Ok;
}

WhoisExchangeStatus SendAll(int fd, const std::string& request, const RunToken& token) {
  size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += size_t(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const Wait wait = WaitFor(fd, POLLOUT, token);
      if (wait == Wait::Cancelled) return WhoisExchangeStatus::Cancelled;
      if (wait == Wait::Failed) return WhoisExchangeStatus::SendFailed;
    } else if (!(n < 0 && errno == EINTR)) {
      return WhoisExchangeStatus::SendFailed;
    }
  }
  return WhoisExchangeStatus::Ok;
}

// Reads until the server closes or the connection breaks: either way the answer is complete.
WhoisExchangeStatus ReceiveAll(int fd, std::string& answer, size_t limit, const RunToken& token) {
  char chunk[kWhoisChunkSize];
  for (;;) {
    const Wait wait = WaitFor(fd, POLLIN, token);
    if (wait == Wait::Cancelled) return WhoisExchangeStatus::Cancelled;
    if (wait == Wait::Failed) return WhoisExchangeStatus::Ok;
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      if (!AppendAnswerChunk(answer, std::string_view(chunk, size_t(n)), limit)) {
        return WhoisExchangeStatus::NoMemory;
      }
    } else if (n == 0) {
      return WhoisExchangeStatus::Ok;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return WhoisExchangeStatus::Ok;
    }
  }
}

}  // namespace

bool IsDottedAddress(const std::string& text) {
  return inet_addr(text.c_str()) != INADDR_NONE;
}

bool IsWhoisAddress(const std::string& text) {
  return IsDottedAddress(text) || ParseIpv6Address(text).has_value();
}

WhoisExchangeResult ExchangeWhois(const std::string& server, const std::string& query,
                                  const RunToken& token, const HostLookups& lookups,
                                  size_t answerLimit, unsigned short port) {
  WhoisExchangeResult result;
  const auto fail = [&](WhoisExchangeStatus status) {
    result.status = status;
    result.answer.clear();
    return result;
  };

  SocketHandle socket(AF_INET);
  if (socket.fd() < 0) return fail(WhoisExchangeStatus::SocketFailed);
  const std::optional<IpAddress> address = ServerAddress(server, lookups);
  // A lookup cannot be interrupted; a stopped run just drops its result.
  if (token.cancelled()) return fail(WhoisExchangeStatus::Cancelled);
  if (!address) return fail(WhoisExchangeStatus::ResolveFailed);
  if (address->isIpv6() && !socket.reopen(AF_INET6)) return fail(WhoisExchangeStatus::SocketFailed);

  WhoisExchangeStatus status = Connect(socket.fd(), *address, port, token);
  if (status == WhoisExchangeStatus::Ok) status = SendAll(socket.fd(), query + "\r\n", token);
  if (status == WhoisExchangeStatus::Ok) {
    status = ReceiveAll(socket.fd(), result.answer, answerLimit, token);
  }
  if (status != WhoisExchangeStatus::Ok) return fail(status);
  try {
    NormalizeLineEnds(result.answer);
  } catch (const std::bad_alloc&) {
    return fail(WhoisExchangeStatus::NoMemory);
  }
  return result;
}
