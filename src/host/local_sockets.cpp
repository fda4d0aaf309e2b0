#include <cerrno>
#include <memory>
#include <mutex>

#include "host/local_services.h"
#include "sockets/socket_service.h"
#include "sys/local_addresses.h"
#include "sys/net_event.h"
#include "sys/socket_io.h"

namespace {

constexpr uint32_t kTcpEvents = kNetRead | kNetWrite | kNetAccept | kNetConnect | kNetClose;
constexpr uint32_t kUdpEvents = kNetRead | kNetClose;
constexpr int kListenBacklog = 5;

static_assert(kSocketRead == kNetRead && kSocketWrite == kNetWrite && kSocketAccept == kNetAccept &&
              kSocketConnect == kNetConnect && kSocketClose == kNetClose);
static_assert(kSocketReceiveLimit == kReceiveLimit);

SocketPeer PeerOf(const PeerAddress& peer) {
  return {peer.known, peer.address, peer.port};
}

// A connect that failed at once because the peer refused it or cannot be reached: reported as
// the connect event's error, as when the failure comes later.
bool IsConnectEventError(int error) {
  return error == ECONNREFUSED || error == ENETUNREACH || error == EHOSTUNREACH;
}

// One socket of this computer with its network event. Only the worker waits, accepts and closes;
// the lock keeps a send from another thread from meeting a closed descriptor, or a reused one of
// another module.
class LocalSocketSession : public SocketSession {
 public:
  LocalSocketSession(int fd, uint32_t mask, bool datagram)
      : fd_(fd), mask_(mask), datagram_(datagram) {
    event_.select(fd, mask);
  }
  ~LocalSocketSession() override { close(); }

  bool eventValid() const { return event_.valid(); }
  int eventError() const { return event_.createError(); }
  NetEvent& event() { return event_; }
  int fd() const { return fd_; }

  bool wait(SocketUpdate& update, const RunToken& token) override {
    update = SocketUpdate();
    // A send that was blocked signals the event with no event pending: waited through.
    while (update.events == 0) {
      if (token.cancelled()) return false;
      if (!event_.wait(token.wakeFd() >= 0 ? -1 : 50, token.wakeFd())) {
        if (token.wakeFd() >= 0) return false;
        continue;
      }
      if (token.cancelled()) return false;
      take(event_.take(), update);
    }
    return true;
  }

  SocketSent send(const std::vector<uint8_t>& data) override {
    std::lock_guard lock(mutex_);
    SocketSent result;
    result.sent = fd_ >= 0 ? SendBytes(fd_, data.data(), data.size()) : -1;
    result.error = result.sent < 0 ? (fd_ >= 0 ? errno : EBADF) : 0;
    return result;
  }

  SocketSent sendTo(const std::vector<uint8_t>& data, const IpAddress& address,
                    uint16_t port) override {
    std::lock_guard lock(mutex_);
    SocketSent result;
    result.sent = fd_ >= 0 ? SendDatagram(fd_, data.data(), data.size(), address, port) : -1;
    result.error = result.sent < 0 ? (fd_ >= 0 ? errno : EBADF) : 0;
    return result;
  }

  void sendBlocked() override { event_.sendBlocked(); }

  void close() override {
    std::lock_guard lock(mutex_);
    CloseSocket(fd_);
    fd_ = -1;
  }

 private:
  void take(const NetEvents& events, SocketUpdate& update) {
    update.events = events.events;
    update.readError = events.readError;
    update.writeError = events.writeError;
    update.acceptError = events.acceptError;
    update.connectError = events.connectError;
    update.closeError = events.closeError;
    if (events.has(kNetRead) && events.readError == 0) {
      if (datagram_) {
        receiveDatagram(update);
      } else {
        Received got = ReceiveAvailable(fd_);
        update.bytes = std::move(got.bytes);
        update.readFailed = got.failed;
      }
    }
    if (events.has(kNetAccept) && events.acceptError == 0) accept(update);
  }

  void receiveDatagram(SocketUpdate& update) {
    update.bytes.resize(kDatagramLimit);
    PeerAddress from;
    const ssize_t n = ReceiveDatagram(fd_, update.bytes.data(), update.bytes.size(), &from);
    update.bytes.resize(n > 0 ? size_t(n) : 0);
    update.readFailed = n <= 0 && n != kDatagramWouldBlock;
    if (n > 0) update.peer = PeerOf(from);
  }

  // Takes the pending connection in place of the listening socket: one connection per session.
  void accept(SocketUpdate& update) {
    PeerAddress peer;
    const int fd = AcceptConnection(fd_, &peer);
    if (fd < 0) {
      update.acceptFailed = true;
      return;
    }
    {
      std::lock_guard lock(mutex_);
      CloseSocket(fd_);
      fd_ = fd;
    }
    event_.select(fd, mask_);
    event_.accepted();
    update.peer = PeerOf(peer);
  }

  std::mutex mutex_;
  int fd_;
  const uint32_t mask_;
  const bool datagram_;
  NetEvent event_;
};

// A socket of `address`'s family with its event; the opening that failed otherwise.
SocketOpening Open(const IpAddress& address, bool udp, std::unique_ptr<LocalSocketSession>* out) {
  const int fd = udp ? OpenUdpSocket(address.family()) : OpenTcpSocket(address.family());
  if (fd < 0) return {nullptr, SocketStep::kCreate, errno};
  *out = std::make_unique<LocalSocketSession>(fd, udp ? kUdpEvents : kTcpEvents, udp);
  if (!(*out)->eventValid()) return {nullptr, SocketStep::kEvent, (*out)->eventError()};
  return {};
}

class LocalSocketService : public SocketService {
 public:
  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }

  std::vector<IpAddress> localAddresses() override { return LocalAddressList().addresses(); }

  SocketOpening listenTcp(const IpAddress& address, uint16_t port, const RunToken&) override {
    std::unique_ptr<LocalSocketSession> session;
    if (SocketOpening failed = Open(address, false, &session); failed.failed != SocketStep::kNone)
      return failed;
    AllowAddressReuse(session->fd());
    if (!BindSocket(session->fd(), address, port)) return {nullptr, SocketStep::kBind, errno};
    if (!ListenOnSocket(session->fd(), kListenBacklog))
      return {nullptr, SocketStep::kListen, errno};
    session->event().listenStarted();
    return {std::move(session), SocketStep::kNone, 0, port};
  }

  SocketOpening connectTcp(const IpAddress& address, uint16_t port, const RunToken&) override {
    std::unique_ptr<LocalSocketSession> session;
    if (SocketOpening failed = Open(address, false, &session); failed.failed != SocketStep::kNone)
      return failed;
    const int error = StartConnect(session->fd(), address, port);
    if (error != 0 && !IsConnectEventError(error)) return {nullptr, SocketStep::kConnect, error};
    session->event().connectStarted(error);
    return {std::move(session), SocketStep::kNone, 0, 0};
  }

  SocketOpening bindUdp(const IpAddress& address, uint16_t port, const RunToken&) override {
    std::unique_ptr<LocalSocketSession> session;
    if (SocketOpening failed = Open(address, true, &session); failed.failed != SocketStep::kNone)
      return failed;
    if (!BindSocket(session->fd(), address, port)) return {nullptr, SocketStep::kBind, errno};
    const uint16_t bound = BoundPort(session->fd());
    return {std::move(session), SocketStep::kNone, 0, bound};
  }
};

}  // namespace

std::unique_ptr<SocketService> NewLocalSocketService() {
  return std::make_unique<LocalSocketService>();
}
