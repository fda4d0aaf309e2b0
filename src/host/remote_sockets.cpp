#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

#include "host/remote_services.h"
#include "sockets/socket_service.h"
#include "wire/services.h"
#include "wire/socket_records.h"

namespace {

// What a session and the waits for room it starts share.
struct SessionState {
  explicit SessionState(std::shared_ptr<Channel> open) : channel(std::move(open)) {}
  const std::shared_ptr<Channel> channel;
  const RunTokenPtr closed = NewRunToken();
  std::atomic<bool> waitingForRoom{false};
};

// A session of the agent's host: one channel, its updates in, its sends out. A send takes what
// the channel has room for now, never waiting; after a blocked one the write event comes when the
// agent has handed what waited to its socket: it answers the probe sent after the blocked send.
class RemoteSocketSession : public SocketSession {
 public:
  explicit RemoteSocketSession(std::shared_ptr<Channel> channel)
      : state_(std::make_shared<SessionState>(std::move(channel))) {}
  ~RemoteSocketSession() override { close(); }

  bool wait(SocketUpdate& update, const RunToken& token) override {
    std::vector<uint8_t> message;
    if (state_->channel->receive(&message, &token) != 0) return false;
    std::optional<SocketUpdate> decoded = DecodeSocketUpdate(message);
    if (!decoded) {
      state_->channel->close(EBADMSG);
      return false;
    }
    update = std::move(*decoded);
    return true;
  }

  SocketSent send(const std::vector<uint8_t>& data) override {
    SocketCommand command;
    command.kind = SocketCommand::kSend;
    size_t at = 0;
    while (at < data.size()) {
      const size_t size = std::min(kSocketCommandLimit, data.size() - at);
      command.data.assign(data.begin() + long(at), data.begin() + long(at + size));
      const int error = state_->channel->send(EncodeSocketCommand(command), nullptr, false);
      if (error != 0) {
        if (at > 0) break;
        return {-1, error == EPIPE ? EBADF : error};
      }
      at += size;
    }
    return {static_cast<long long>(at), 0};
  }

  SocketSent sendTo(const std::vector<uint8_t>& data, const IpAddress& address,
                    uint16_t port) override {
    if (data.size() > kSocketCommandLimit) return {-1, EMSGSIZE};
    SocketCommand command;
    command.kind = SocketCommand::kSendTo;
    command.address = address;
    command.port = port;
    command.data = data;
    const int error = state_->channel->send(EncodeSocketCommand(command), nullptr, false);
    if (error != 0) return {-1, error == EPIPE ? EBADF : error};
    return {static_cast<long long>(data.size()), 0};
  }

  // The probe waits for room on the channel on a thread of its own.
  void sendBlocked() override {
    if (state_->waitingForRoom.exchange(true)) return;
    std::thread([state = state_] {
      SocketCommand probe;
      probe.kind = SocketCommand::kProbe;
      state->channel->send(EncodeSocketCommand(probe), state->closed.get());
      state->waitingForRoom = false;
    }).detach();
  }

  void close() override {
    state_->closed->cancel();
    state_->channel->close();
  }

 private:
  std::shared_ptr<SessionState> state_;
};

// How long an opening of a stopped run still waits for the agent's answer.
constexpr int kStoppedOpeningMs = 500;

class RemoteSocketService : public SocketService {
 public:
  explicit RemoteSocketService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  std::vector<IpAddress> localAddresses() override {
    std::optional<std::vector<IpAddress>> addresses;
    CallOverLink(*link_, kServiceSockets, kSocketsLocalAddresses, {}, nullptr,
                 [&](const std::vector<uint8_t>& message) {
                   addresses = DecodeSocketAddressList(message);
                   return addresses.has_value();
                 });
    return addresses.value_or(std::vector<IpAddress>());
  }

  SocketOpening listenTcp(const IpAddress& address, uint16_t port, const RunToken& token) override {
    return open(kSocketsListenTcp, address, port, token);
  }
  SocketOpening connectTcp(const IpAddress& address, uint16_t port,
                           const RunToken& token) override {
    return open(kSocketsConnectTcp, address, port, token);
  }
  SocketOpening bindUdp(const IpAddress& address, uint16_t port, const RunToken& token) override {
    return open(kSocketsBindUdp, address, port, token);
  }

 private:
  // A lost agent, or one that answers what cannot be read, fails as a socket that could not be
  // made.
  SocketOpening open(uint16_t operation, const IpAddress& address, uint16_t port,
                     const RunToken& token) {
    std::shared_ptr<Channel> channel =
        link_->open(kServiceSockets, operation, EncodeSocketOpen({address, port}));
    std::vector<uint8_t> message;
    int error = channel->receive(&message, &token);
    // A stop while the agent opens: its answer is still taken, as the opening here is done at
    // once, unless the agent keeps it back.
    if (error == ECANCELED) error = channel->receive(&message, nullptr, kStoppedOpeningMs);
    if (error == ETIMEDOUT) return {};
    if (error != 0) return {nullptr, SocketStep::kCreate, EPIPE};
    const std::optional<SocketOpened> opened = DecodeSocketOpened(message);
    if (!opened) {
      channel->close(EBADMSG);
      return {nullptr, SocketStep::kCreate, EBADMSG};
    }
    if (opened->failed != SocketStep::kNone) {
      return {nullptr, opened->failed, opened->error};
    }
    return {std::make_unique<RemoteSocketSession>(std::move(channel)), SocketStep::kNone, 0,
            opened->boundPort};
  }

  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<SocketService> NewRemoteSocketService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteSocketService>(std::move(link));
}
