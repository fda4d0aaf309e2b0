#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>

#include "dns/dns_exchange.h"
#include "sys/socket_address.h"

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

// The any-address of the server's family (0.0.0.0 or ::) and port 0: the system picks the port.
bool BindAnyPort(int fd, const SocketAddress& server) {
  const IpAddress any =
      server.storage.ss_family == AF_INET ? IpAddress() : IpAddress::Ipv6(IpAddress::Bytes{});
  const SocketAddress local = MakeSocketAddress(any, 0);
  return bind(fd, local.get(), local.length) == 0;
}

// The socket is connected to the server, so the system delivers only the server's datagrams:
// nobody else who reaches the query's port can answer it. (A port-unreachable report from the
// server then fails the receive at once.)
bool SendQuery(int fd, const SocketAddress& server, const std::vector<uint8_t>& query) {
  if (connect(fd, server.get(), server.length) != 0) return false;
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

std::optional<DnsIpv6Server> ParseDnsIpv6Server(const std::string& text) {
  const size_t percent = text.find('%');
  const std::optional<IpAddress> address =
      ParseIpv6Address(std::string_view(text).substr(0, percent));
  if (!address) return std::nullopt;
  DnsIpv6Server server{*address, 0};
  if (percent == std::string::npos) return server;
  const std::string zone = text.substr(percent + 1);
  server.scope = if_nametoindex(zone.c_str());
  if (server.scope == 0) {
    // An index as a decimal number, as the resolver also reads it.
    const auto [end, error] = std::from_chars(zone.data(), zone.data() + zone.size(), server.scope);
    if (error != std::errc() || end != zone.data() + zone.size() || server.scope == 0) {
      return std::nullopt;
    }
  }
  return server;
}

int DnsExchange(DnsRequest* request) {
  if (request == nullptr) return kDnsNoRequest;
  const int capacity = request->recordCount;
  request->recordCount = 0;

  const SocketAddress server =
      request->serverIpv6
          ? MakeSocketAddress(request->serverIpv6->address, kDnsPort, request->serverIpv6->scope)
          : MakeSocketAddress(IpAddress::Ipv4(request->server), kDnsPort);
  SocketHolder socketHolder(
      socket(server.storage.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
  const int fd = socketHolder.fd();
  if (fd < 0) return kDnsSocketFailed;
  if (!BindAnyPort(fd, server)) return kDnsBindFailed;

  const std::vector<uint8_t> query = BuildDnsQuery(
      request->queryId, request->queryType, request->queryName, request->recursionDesired != 0);
  if (query.empty()) return kDnsQueryNotBuilt;
  if (!SendQuery(fd, server, query)) return kDnsSendFailed;

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
