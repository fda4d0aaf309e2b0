#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
// after the system headers: they declare what these use
#include <linux/capability.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include "helper/capabilities.h"
#include "helper/helper_client.h"
#include "ping/echo.h"
#include "ping/echo_packet.h"

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

std::atomic<EchoSocketKind> g_kind{EchoSocketKind::None};

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

// The request goes out as the echo service sends it: the caller's TTL, IP flags 0 (no Don't
// Fragment). Broadcast stays off, so a broadcast destination fails at the send instead of
// passing for answered when the first of several replies comes.
bool PrepareSocket(int fd, EchoSocketKind kind, uint8_t ttl) {
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

// One echo in flight.
struct EchoExchange {
  int fd = -1;
  EchoSocketKind kind = EchoSocketKind::None;
  EchoTicket ticket;
  EchoReport report;
};

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

  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
    if (c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) continue;
    sock_extended_err error;
    std::memcpy(&error, CMSG_DATA(c), sizeof error);
    sockaddr_in offender{};
    if (c->cmsg_len >= CMSG_LEN(sizeof error + sizeof offender)) {
      std::memcpy(&offender, CMSG_DATA(c) + sizeof error, sizeof offender);
    }
    if (error.ee_origin == SO_EE_ORIGIN_ICMP) {
      uint32_t status = 0;
      if (!MatchQuotedRequest(data, static_cast<size_t>(length), exchange.ticket.sequence) ||
          !StatusOfIcmpReport(error.ee_type, error.ee_code, &status)) {
        continue;
      }
      exchange.report = EchoReport{offender.sin_addr.s_addr, status};
      return Arrival::Ours;
    }
    if (error.ee_origin == SO_EE_ORIGIN_LOCAL) {  // this socket carried only our request
      exchange.report = EchoReport{0, StatusOfSendError(static_cast<int>(error.ee_errno))};
      return Arrival::Ours;
    }
  }
  return Arrival::Other;
}

// One received message.
Arrival ReadReply(EchoExchange& exchange) {
  uint8_t data[kReplyArea];
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  const ssize_t length = recvfrom(exchange.fd, data, sizeof data, MSG_DONTWAIT,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (length < 0) {
    // EAGAIN: nothing more queued. Another error is a pending report the error queue holds.
    return errno == EAGAIN || errno == EWOULDBLOCK ? Arrival::Nothing : Arrival::Other;
  }
  const size_t size = static_cast<size_t>(length);
  if (exchange.kind == EchoSocketKind::Raw) {
    return MatchRawReply(data, size, exchange.ticket, &exchange.report) ? Arrival::Ours
                                                                        : Arrival::Other;
  }
  if (!MatchDatagramReply(data, size, exchange.ticket.sequence)) return Arrival::Other;
  exchange.report = EchoReport{from.sin_addr.s_addr, kEchoSuccess};
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

void Fail(EchoResult* result, uint32_t status, uint32_t address = 0) {
  result->address = address;
  result->status = status;
  result->roundTripMs = -1;
}

// The echo through the helper's raw socket, as SendEcho reports it.
int SendEchoThroughHelper(uint32_t destination, uint8_t ttl, uint32_t timeoutMs, EchoResult* result,
                          int wakeFd) {
  auto request = NewHelperRecord<HelperEchoRequest>(kHelperEcho);
  request.destination = WireIpv4(destination);
  request.ttl = ttl;
  request.timeoutMs = timeoutMs;
  HelperCall call(request);
  HelperReply reply;
  const int error = call.error() != 0 ? call.error() : call.next(reply, wakeFd);
  if (error == ECANCELED) {
    Fail(result, kEchoReqTimedOut);  // as a wait ended by the wake-up
    return 0;
  }
  if (error != 0) {
    Fail(result, kEchoGeneralFailure);
    return 0;
  }
  if (reply.type() != kHelperEchoResult) {
    Fail(result, StatusOfSendError(reply.error()));  // refused, or no raw socket
    return 0;
  }
  const HelperEchoReply echo = reply.as<HelperEchoReply>();
  std::memcpy(&result->address, echo.address.bytes, 4);
  result->status = echo.status;
  result->roundTripMs = echo.roundTripMs;
  return echo.answered == 1 ? 1 : 0;
}

}  // namespace

int OpenEchoSocket(EchoSocketKind kind) {
  if (kind == EchoSocketKind::None) return -1;
  const int type = kind == EchoSocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
  return socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
}

int LoadEchoService() {
  SocketFd probe(OpenEchoSocket(EchoSocketKind::Datagram));
  EchoSocketKind kind = EchoSocketKind::None;
  if (probe.get() >= 0) {
    kind = EchoSocketKind::Datagram;
  } else {
    // Raw sockets are the helper's: ask whether it may open them.
    HelperCall call(NewHelperRecord<HelperBareRecord>(kHelperHello));
    HelperReply reply;
    if (HelperCall::Finish(call, reply, kHelperQuickTimeoutMs) == 0 &&
        reply.type() == kHelperAbilities &&
        (reply.as<HelperAbilitiesReply>().capabilities & CapabilityBit(CAP_NET_RAW)) != 0) {
      kind = EchoSocketKind::Raw;
    }
  }
  g_kind.store(kind);
  return kind == EchoSocketKind::None ? 0 : 1;
}

EchoSocketKind LoadedEchoSocketKind() {
  return g_kind.load();
}

int SendEcho(uint32_t destination, int ttl, uint32_t timeoutMs, EchoResult* result, int wakeFd) {
  if (result == nullptr) return 0;
  switch (g_kind.load()) {
    case EchoSocketKind::Datagram:
      return SendEchoOnSocket(OpenEchoSocket(EchoSocketKind::Datagram), EchoSocketKind::Datagram,
                              destination, ttl, timeoutMs, result, wakeFd);
    case EchoSocketKind::Raw:
      return SendEchoThroughHelper(destination, static_cast<uint8_t>(ttl), timeoutMs, result,
                                   wakeFd);
    default:
      Fail(result, kEchoGeneralFailure);
      return 0;
  }
}

int SendEchoOnSocket(int fd, EchoSocketKind kind, uint32_t destination, int ttl, uint32_t timeoutMs,
                     EchoResult* result, int wakeFd) {
  SocketFd socketFd(fd);
  if (result == nullptr) return 0;
  EchoExchange exchange;
  exchange.kind = kind;
  exchange.fd = socketFd.get();
  uint8_t timeToLive = static_cast<uint8_t>(ttl);
  if (timeToLive == 0) timeToLive = kDefaultTtl;
  if (exchange.fd < 0 || !PrepareSocket(exchange.fd, exchange.kind, timeToLive)) {
    Fail(result, kEchoGeneralFailure);
    return 0;
  }
  if (timeoutMs == 0) timeoutMs = kDefaultTimeoutMs;
  timeoutMs = std::min(timeoutMs, kLongestEchoTimeoutMs);

  exchange.ticket = EchoTicket{ProcessIdentifier(), NextSequence(), destination};
  const EchoRequestBytes request =
      BuildEchoRequest(exchange.ticket.identifier, exchange.ticket.sequence);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = destination;
  // A group may answer with several replies, as a broadcast address does: refused the same way.
  if (IN_MULTICAST(ntohl(destination))) {
    Fail(result, kEchoBadDestination);
    return 0;
  }
  const Clock::time_point sent = Clock::now();
  if (sendto(exchange.fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to) < 0) {
    Fail(result, StatusOfSendError(errno));
    return 0;
  }
  if (!AwaitAnswer(exchange, sent + std::chrono::milliseconds(timeoutMs), wakeFd)) {
    Fail(result, kEchoReqTimedOut);
    return 0;
  }
  if (!IsAnsweredStatus(exchange.report.status)) {
    Fail(result, exchange.report.status, exchange.report.from);
    return 0;
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
  result->address = exchange.report.from;
  result->status = exchange.report.status;
  result->roundTripMs = static_cast<int32_t>(elapsed.count());
  return 1;
}

int PingOnce(uint32_t destination, int wakeFd) {
  EchoResult result;
  return SendEcho(destination, 128, 3000, &result, wakeFd) == 1 ? result.roundTripMs : -1;
}
