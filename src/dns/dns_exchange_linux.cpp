#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "dns/dns_exchange.h"

namespace {

// Closes the socket on every way out.
class SocketHolder {
 public:
  explicit SocketHolder(int fd) : fd_(fd) {}
  ~SocketHolder() {
    if (fd_ >= 0) close(fd_);
  }
  SocketHolder(const SocketHolder&) = delete;
  SocketHolder& operator=(const SocketHolder&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool BindAnyPort(int fd) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = 0;
  return bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

// The socket is connected to the server, so the system delivers only the server's datagrams:
// nobody else who reaches the query's port can answer it. (A port-unreachable report from the
// server then fails the receive at once.)
bool SendQuery(int fd, uint32_t server, const std::vector<uint8_t>& query) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = server;
  to.sin_port = htons(kDnsPort);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) return false;
  return send(fd, query.data(), query.size(), 0) == static_cast<ssize_t>(query.size());
}

enum class Receive { Datagram, Nothing, Failed };

// One datagram if one waits. Empty datagrams are passed over; one too long for the buffer is a
// failure, as is any error other than "nothing yet".
Receive ReceiveOne(int fd, uint8_t* buffer, size_t capacity, size_t* length) {
  for (;;) {
    iovec part{buffer, capacity};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t got = recvmsg(fd, &message, MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? Receive::Nothing : Receive::Failed;
    }
    if (message.msg_flags & MSG_TRUNC) return Receive::Failed;
    if (got == 0) continue;
    *length = static_cast<size_t>(got);
    return Receive::Datagram;
  }
}

// Waits for the first datagram until the deadline or the wake descriptor; false when none came.
bool WaitForReply(int fd, int wakeFd, uint32_t timeoutMs, uint8_t* buffer, size_t* length) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const Receive r = ReceiveOne(fd, buffer, kDnsReceiveBuffer, length);
    if (r == Receive::Datagram) return true;
    if (r == Receive::Failed) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int ready = poll(fds, wakeFd >= 0 ? 2 : 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return false;
    if (wakeFd >= 0 && (fds[1].revents & POLLIN)) return false;
  }
}

}  // namespace

int DnsExchange(DnsRequest* request) {
  if (request == nullptr) return kDnsNoRequest;
  const int capacity = request->recordCount;
  request->recordCount = 0;

  SocketHolder socketHolder(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
  const int fd = socketHolder.fd();
  if (fd < 0) return kDnsSocketFailed;
  if (!BindAnyPort(fd)) return kDnsBindFailed;

  const std::vector<uint8_t> query = BuildDnsQuery(
      request->queryId, request->queryType, request->queryName, request->recursionDesired != 0);
  if (query.empty()) return kDnsQueryNotBuilt;
  if (!SendQuery(fd, request->server, query)) return kDnsSendFailed;

  uint8_t reply[kDnsReceiveBuffer];
  size_t length = 0;
  if (!WaitForReply(fd, request->wakeFd, request->timeoutMs, reply, &length)) return kDnsNoReply;

  DnsReply decoded;
  const size_t questionLength = query.size() - kDnsHeaderSize;
  if (!DecodeDnsReply(reply, length, questionLength, request->records, capacity, &decoded)) {
    return kDnsNoReply;
  }
  request->responseCode = decoded.responseCode;
  request->recordCount = decoded.recordCount;
  return kDnsOk;
}
