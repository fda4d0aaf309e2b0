#include <arpa/inet.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
// after the system headers: they declare what these use
#include <linux/errqueue.h>
#include <linux/icmp.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include "ping/echo.h"
#include "ping/echo_packet.h"
#include "sys/socket_address.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kDefaultTimeoutMs = 3000;
constexpr uint8_t kDefaultTtl = 255;
// Room for one received datagram, as the reply area of the request.
constexpr size_t kReplyArea = 2000;
// Messages read per wake-up before the deadline is looked at again (a flood cannot hold us).
constexpr int kReadsPerWake = 64;
// Longest single poll(); a longer time-out is waited in pieces.
constexpr int64_t kLongestPollMs = 60000;

// Closes the descriptor when the echo is over.
class SocketFd {
 public:
  explicit SocketFd(int fd) : fd_(fd) {}
  ~SocketFd() {
    if (fd_ >= 0) close(fd_);
  }
  SocketFd(const SocketFd&) = delete;
  SocketFd& operator=(const SocketFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool SetIntOption(int fd, int level, int name, int value) {
  return setsockopt(fd, level, name, &value, sizeof value) == 0;
}

// An ICMPv6 socket: the caller's TTL as the hop limit; reports from routers in the datagram
// socket's error queue, or only the kinds that can answer an echo request on the raw socket.
bool PrepareIpv6Socket(int fd, EchoSocketKind kind, uint8_t ttl) {
  if (!SetIntOption(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, ttl)) return false;
  if (kind == EchoSocketKind::Datagram) return SetIntOption(fd, IPPROTO_IPV6, IPV6_RECVERR, 1);
  icmp6_filter filter;
  ICMP6_FILTER_SETBLOCKALL(&filter);
  for (const int type : {ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG,
                         ICMP6_TIME_EXCEEDED, ICMP6_PARAM_PROB}) {
    ICMP6_FILTER_SETPASS(type, &filter);
  }
  return setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) == 0;
}

// The request goes out as the echo service sends it: the caller's TTL, IP flags 0 (no Don't
// Fragment). Broadcast stays off, so a broadcast destination fails at the send instead of
// passing for answered when the first of several replies comes.
bool PrepareSocket(int fd, EchoSocketKind kind, IpAddress::Family family, uint8_t ttl) {
  if (family == IpAddress::Family::kIpv6) return PrepareIpv6Socket(fd, kind, ttl);
  bool ok = SetIntOption(fd, IPPROTO_IP, IP_TTL, ttl) &&
            SetIntOption(fd, IPPROTO_IP, IP_MTU_DISCOVER, IP_PMTUDISC_DONT);
  if (kind == EchoSocketKind::Datagram) {
    // Reports from routers arrive in the error queue, with the sender as the offender.
    ok = ok && SetIntOption(fd, IPPROTO_IP, IP_RECVERR, 1);
  } else {
    // A raw socket sees every ICMP message: let the kernel keep only the kinds that can
    // answer an echo request.
    icmp_filter filter{};
    filter.data =
        ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH) |
          (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
    ok = ok && setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) == 0;
  }
  return ok;
}

// Identifier of this process's raw requests; a datagram socket's is chosen by the kernel.
uint16_t ProcessIdentifier() {
  static const uint16_t identifier = [] {
    std::random_device random;
    return static_cast<uint16_t>(random());
  }();
  return identifier;
}

// Every request of the process gets its own sequence number, so a late reply to an earlier
// echo (or to another thread's) never answers this one.
uint16_t NextSequence() {
  static std::atomic<uint16_t> sequence{0};
  return ++sequence;
}

// One echo in flight, and who answered it how.
struct EchoExchange {
  int fd = -1;
  EchoSocketKind kind = EchoSocketKind::None;
  IpAddress destination;
  uint16_t identifier = 0;
  uint16_t sequence = 0;
  IpAddress from;
  uint32_t status = 0;

  IpAddress::Family family() const { return destination.family(); }
};

// The address of a sockaddr_in or sockaddr_in6 as long as `length` says; 0.0.0.0 else.
IpAddress AddressOfSocket(const sockaddr_storage& socket, socklen_t length) {
  const std::optional<AddressAndPort> read = ReadSocketAddress(socket, length);
  return read ? read->address : IpAddress();
}

// What one read from the socket brought.
enum class Arrival { Ours, Other, Nothing };

// A report from the datagram socket's error queue.
Arrival ReadErrorQueue(EchoExchange& exchange) {
  uint8_t data[kReplyArea];
  alignas(cmsghdr) uint8_t control[512];
  iovec iov{data, sizeof data};
  msghdr message{};
  message.msg_iov = &iov;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t length = recvmsg(exchange.fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
  if (length < 0) return Arrival::Nothing;

  const bool ipv6 = exchange.family() == IpAddress::Family::kIpv6;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    const bool report = ipv6 ? c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR
                             : c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR;
    if (!report || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) continue;
    sock_extended_err error;
    std::memcpy(&error, CMSG_DATA(c), sizeof error);
    // The offender (SO_EE_OFFENDER) follows, as long as the message says.
    sockaddr_storage offender{};
    const size_t offenderLength = std::min(c->cmsg_len - CMSG_LEN(sizeof error), sizeof offender);
    std::memcpy(&offender, CMSG_DATA(c) + sizeof error, offenderLength);
    if (error.ee_origin == (ipv6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP)) {
      uint32_t status = 0;
      const bool known = ipv6 ? StatusOfIcmpv6Report(error.ee_type, error.ee_code, &status)
                              : StatusOfIcmpReport(error.ee_type, error.ee_code, &status);
      if (!known || !MatchQuotedRequest(data, static_cast<size_t>(length), exchange.sequence,
                                        exchange.family())) {
        continue;
      }
      exchange.from = AddressOfSocket(offender, socklen_t(offenderLength));
      exchange.status = status;
      return Arrival::Ours;
    }
    if (error.ee_origin == SO_EE_ORIGIN_LOCAL) {  // this socket carried only our request
      exchange.from = IpAddress();
      exchange.status = StatusOfSendError(static_cast<int>(error.ee_errno));
      return Arrival::Ours;
    }
  }
  return Arrival::Other;
}

// One received message.
Arrival ReadReply(EchoExchange& exchange) {
  uint8_t data[kReplyArea];
  sockaddr_storage from{};
  socklen_t fromLength = sizeof from;
  const ssize_t length = recvfrom(exchange.fd, data, sizeof data, MSG_DONTWAIT,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (length < 0) {
    // EAGAIN: nothing more queued. Another error is a pending report the error queue holds.
    return errno == EAGAIN || errno == EWOULDBLOCK ? Arrival::Nothing : Arrival::Other;
  }
  const size_t size = static_cast<size_t>(length);
  const bool ipv6 = exchange.family() == IpAddress::Family::kIpv6;
  if (exchange.kind == EchoSocketKind::Raw && !ipv6) {
    // A whole IPv4 datagram: the sender is in its header.
    const EchoTicket ticket{exchange.identifier, exchange.sequence, exchange.destination.ipv4()};
    EchoReport report;
    if (!MatchRawReply(data, size, ticket, &report)) return Arrival::Other;
    exchange.from = IpAddress::Ipv4(report.from);
    exchange.status = report.status;
    return Arrival::Ours;
  }
  if (exchange.kind == EchoSocketKind::Raw) {
    if (!MatchRawIcmpv6Reply(data, size, exchange.identifier, exchange.sequence,
                             exchange.destination, &exchange.status)) {
      return Arrival::Other;
    }
  } else if (MatchDatagramReply(data, size, exchange.sequence, exchange.family())) {
    exchange.status = kEchoSuccess;
  } else {
    return Arrival::Other;
  }
  exchange.from = AddressOfSocket(from, fromLength);
  return Arrival::Ours;
}

// Reads up to kReadsPerWake messages with `read`; true once one of them is ours.
bool ReadSome(EchoExchange& exchange, Arrival (*read)(EchoExchange&)) {
  for (int i = 0; i < kReadsPerWake; ++i) {
    const Arrival arrival = read(exchange);
    if (arrival == Arrival::Ours) return true;
    if (arrival == Arrival::Nothing) break;
  }
  return false;
}

// Reads what has arrived; true once our answer is among it.
bool ReadArrivals(EchoExchange& exchange, short events) {
  if ((events & POLLERR) != 0) {
    if (exchange.kind == EchoSocketKind::Datagram && ReadSome(exchange, ReadErrorQueue)) {
      return true;
    }
    int pending = 0;  // clear the socket error so poll does not report it again
    socklen_t size = sizeof pending;
    getsockopt(exchange.fd, SOL_SOCKET, SO_ERROR, &pending, &size);
  }
  return (events & POLLIN) != 0 && ReadSome(exchange, ReadReply);
}

// Waits for the answer until the deadline or the wake-up; true when it came.
bool AwaitAnswer(EchoExchange& exchange, Clock::time_point deadline, int wakeFd) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{exchange.fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int waitMs = static_cast<int>(std::min<int64_t>(left.count(), kLongestPollMs));
    const int ready = poll(fds, wakeFd >= 0 ? 2 : 1, waitMs);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    if (wakeFd >= 0 && fds[1].revents != 0) return false;
    if ((fds[0].revents & POLLNVAL) != 0) return false;
    if (ReadArrivals(exchange, fds[0].revents)) return true;
  }
}

}  // namespace

int OpenEchoSocket(EchoSocketKind kind, IpAddress::Family family) {
  if (kind == EchoSocketKind::None) return -1;
  const int type = kind == EchoSocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
  const bool ipv6 = family == IpAddress::Family::kIpv6;
  return socket(ipv6 ? AF_INET6 : AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK,
                ipv6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP});
}

int SendEchoOnSocket(int fd, EchoSocketKind kind, const IpAddress& destination, int ttl,
                     uint32_t timeoutMs, EchoResult* result, IpAddress* answerer, int wakeFd) {
  SocketFd socketFd(fd);
  if (result == nullptr) return 0;
  const IpAddress::Family family = destination.family();
  EchoExchange exchange;
  exchange.kind = kind;
  exchange.fd = socketFd.get();
  exchange.destination = destination;
  uint8_t timeToLive = static_cast<uint8_t>(ttl);
  if (timeToLive == 0) timeToLive = kDefaultTtl;
  if (exchange.fd < 0 || !PrepareSocket(exchange.fd, exchange.kind, family, timeToLive)) {
    FailEcho(result, answerer, family, kEchoGeneralFailure);
    return 0;
  }
  if (timeoutMs == 0) timeoutMs = kDefaultTimeoutMs;
  timeoutMs = std::min(timeoutMs, kLongestEchoTimeoutMs);

  exchange.identifier = ProcessIdentifier();
  exchange.sequence = NextSequence();
  const EchoRequestBytes request = BuildEchoRequest(exchange.identifier, exchange.sequence, family);
  const SocketAddress to = MakeSocketAddress(destination, 0);
  // A group may answer with several replies, as a broadcast address does: refused the same way.
  if (destination.isIpv6() ? !IsSingleHostIpv6(destination) : destination.isMulticast()) {
    FailEcho(result, answerer, family, kEchoBadDestination);
    return 0;
  }
  const Clock::time_point sent = Clock::now();
  if (sendto(exchange.fd, request.data(), request.size(), 0, to.get(), to.length) < 0) {
    FailEcho(result, answerer, family, StatusOfSendError(errno));
    return 0;
  }
  if (!AwaitAnswer(exchange, sent + std::chrono::milliseconds(timeoutMs), wakeFd)) {
    FailEcho(result, answerer, family, kEchoReqTimedOut);
    return 0;
  }
  if (!IsAnsweredStatus(exchange.status)) {
    FailEcho(result, answerer, family, exchange.status, exchange.from);
    return 0;
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
  SetEchoAnswerer(result, answerer, family, exchange.from);
  result->status = exchange.status;
  result->roundTripMs = static_cast<int32_t>(elapsed.count());
  return 1;
}

void SetEchoAnswerer(EchoResult* result, IpAddress* answerer, IpAddress::Family family,
                     const IpAddress& from) {
  const bool ipv6 = family == IpAddress::Family::kIpv6;
  result->address = ipv6 ? 0 : from.ipv4();
  if (answerer == nullptr) return;
  if (from.family() == family) {
    *answerer = from;
  } else {
    *answerer = ipv6 ? IpAddress::Ipv6(IpAddress::Bytes{}) : IpAddress();
  }
}

void FailEcho(EchoResult* result, IpAddress* answerer, IpAddress::Family family, uint32_t status,
              const IpAddress& from) {
  SetEchoAnswerer(result, answerer, family, from);
  result->status = status;
  result->roundTripMs = -1;
}
