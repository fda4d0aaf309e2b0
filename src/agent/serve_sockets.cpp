#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "agent/serve.h"
#include "sockets/socket_service.h"
#include "wire/socket_records.h"

namespace {

// The sends of one session: the window's commands taken off the channel and handed to the
// socket. A connection's data that the socket cannot take yet waits here, and the channel is not
// read meanwhile, so a peer that does not read holds the window's sends back. The window's probe
// after a blocked send is answered with a write event once everything before it has gone.
class SessionWriter {
 public:
  SessionWriter(Channel& channel, SocketSession& session) : channel_(channel), session_(session) {}

  // The write event the session reported: the writer's own when it waits for one.
  bool takeWrite() {
    std::lock_guard lock(mutex_);
    if (!blocked_) return false;
    blocked_ = false;
    changed_.notify_all();
    return true;
  }

  void stop() {
    stopToken_.cancel();
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

  // Until the window ends the channel, the link goes or stop().
  void run() {
    std::vector<uint8_t> message;
    while (channel_.receive(&message, &stopToken_) == 0) {
      const std::optional<SocketCommand> command = DecodeSocketCommand(message);
      if (!command) continue;  // a command it cannot read is dropped, as a lost send
      if (command->kind == SocketCommand::kSendTo) {
        session_.sendTo(command->data, command->address, command->port);
      } else if (command->kind == SocketCommand::kSend && !sendAll(command->data)) {
        return;
      } else if (command->kind == SocketCommand::kProbe) {
        // Every send before it went to the socket: the window can send again.
        SocketUpdate write;
        write.events = kSocketWrite;
        if (channel_.send(EncodeSocketUpdate(write), &stopToken_) != 0) return;
      }
    }
  }

 private:
  // False once stopped.
  bool sendAll(const std::vector<uint8_t>& data) {
    size_t at = 0;
    while (at < data.size()) {
      const std::vector<uint8_t> rest(data.begin() + long(at), data.end());
      const SocketSent sent = session_.send(rest);
      if (sent.sent >= 0) at += size_t(sent.sent);
      if (at == data.size()) break;
      if (sent.sent < 0 && sent.error != EAGAIN) return true;  // the connection failed: dropped
      std::unique_lock lock(mutex_);
      blocked_ = true;
      lock.unlock();
      session_.sendBlocked();
      lock.lock();
      changed_.wait(lock, [&] { return !blocked_ || stopped_; });
      if (stopped_) return false;
    }
    return true;
  }

  Channel& channel_;
  SocketSession& session_;
  RunToken stopToken_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool blocked_ = false;
  bool stopped_ = false;
};

// A session opened for the window: its updates out, its commands in, until either side ends it.
void RunSession(Channel& channel, SocketSession& session) {
  SessionWriter writer(channel, session);
  std::thread sends([&] { writer.run(); });
  SocketUpdate update;
  int status = 0;
  while (session.wait(update, channel.ended())) {
    if (update.has(kSocketWrite) && update.writeError == 0 && writer.takeWrite()) {
      update.events &= ~kSocketWrite;
      if (update.events == 0) continue;
    }
    if (channel.send(EncodeSocketUpdate(update), &channel.ended()) != 0) break;
  }
  if (!channel.ended().cancelled()) status = EIO;  // the wait failed
  writer.stop();
  sends.join();
  session.close();
  channel.close(status);
}

}  // namespace

void ServeSockets(Channel& channel, SocketService& sockets) {
  const OpenRequest& open = channel.opened();
  if (open.operation == kSocketsLocalAddresses) {
    channel.send(EncodeSocketAddressList(sockets.localAddresses()), &channel.ended());
    return channel.close(0);
  }
  if (open.operation != kSocketsListenTcp && open.operation != kSocketsConnectTcp &&
      open.operation != kSocketsBindUdp) {
    return channel.close(ENOSYS);
  }
  const std::optional<SocketOpen> asked = DecodeSocketOpen(open.request);
  if (!asked) return channel.close(EINVAL);
  const RunToken& ended = channel.ended();
  SocketOpening opening = open.operation == kSocketsListenTcp
                              ? sockets.listenTcp(asked->address, asked->port, ended)
                          : open.operation == kSocketsConnectTcp
                              ? sockets.connectTcp(asked->address, asked->port, ended)
                              : sockets.bindUdp(asked->address, asked->port, ended);
  const SocketOpened opened{opening.failed, opening.error, opening.boundPort};
  if (channel.send(EncodeSocketOpened(opened), &channel.ended()) != 0 || !opening.session) {
    return channel.close(0);
  }
  RunSession(channel, *opening.session);
}
