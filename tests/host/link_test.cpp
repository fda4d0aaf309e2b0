// The framed stream between a window and pelorin-agent as a hostile other side meets it: each
// frame that breaks a rule is refused with an error, and the stream goes on, or ends without a
// hang when its frames' bounds are lost; a side that does not read holds no more than its
// channel's window while the other channels go on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "host/link.h"
#include "test_util.h"
#include "wire/frame.h"

namespace {

struct RawFrame {
  FrameHeader header;
  std::vector<uint8_t> payload;
};

// The other side, writing and reading frames by hand.
class RawPeer {
 public:
  RawPeer() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return;
    fd_ = pair[0];
    linkFd_ = pair[1];
  }
  ~RawPeer() {
    if (fd_ >= 0) close(fd_);
  }

  // A link on the other end of the stream, which takes that end.
  std::shared_ptr<Link> startLink(Link::Side side) {
    Hello own;
    own.program = "test";
    own.abilities = kAbilityServices;
    own.hostName = side == Link::Side::Agent ? "agent" : "";
    return Link::Start(linkFd_, dup(linkFd_), side, own);
  }

  void sendBytes(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }
  void send(uint8_t type, uint32_t channel, const std::vector<uint8_t>& payload,
            uint16_t flags = 0) {
    sendBytes(EncodeFrame(type, channel, payload.data(), payload.size(), flags));
  }
  void hello() {
    Hello h;
    h.program = "raw peer";
    send(kFrameHello, 0, EncodeHello(h));
  }
  void endWriting() { shutdown(fd_, SHUT_WR); }

  // The next frame, skipping credits; nothing when none comes in time or the stream ended.
  std::optional<RawFrame> next(uint8_t type, int timeoutMs = 5000) {
    for (;;) {
      RawFrame frame;
      uint8_t head[kFrameHeaderSize];
      if (!readExactly(head, sizeof head, timeoutMs)) return std::nullopt;
      if (DecodeFrameHeader(head, &frame.header) != 0) return std::nullopt;
      frame.payload.resize(frame.header.length);
      if (!readExactly(frame.payload.data(), frame.payload.size(), timeoutMs)) return std::nullopt;
      if (frame.header.type == type) return frame;
    }
  }
  // Whether the link closed its end of the stream.
  bool ended(int timeoutMs = 5000) {
    uint8_t byte;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) != 1) return false;
      const ssize_t n = recv(fd_, &byte, 1, 0);
      if (n <= 0) return true;
    }
  }

 private:
  bool readExactly(uint8_t* data, size_t size, int timeoutMs) {
    size_t got = 0;
    while (got < size) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) != 1) return false;
      const ssize_t n = recv(fd_, data + got, size - got, 0);
      if (n <= 0) return false;
      got += size_t(n);
    }
    return true;
  }

  int fd_ = -1;
  int linkFd_ = -1;
};

std::optional<FrameError> ErrorOf(const std::optional<RawFrame>& frame) {
  if (!frame) return std::nullopt;
  return DecodeFrameError(frame->payload.data(), frame->payload.size());
}

std::vector<uint8_t> OpenPayload(uint16_t service, uint16_t operation) {
  return EncodeOpen({service, operation, {1, 2, 3}});
}

}  // namespace

// Headers whose bounds cannot be trusted end the stream, after a refusal that says why.
TEST(Link, AHeaderThatBreaksARuleIsRefusedAndEndsTheStream) {
  struct Case {
    const char* what;
    FrameHeader header;
    int error;
  };
  const Case cases[] = {
      {"over the limit", {kFrameVersion, kFrameData, 0, 1, kFramePayloadLimit + 1}, EMSGSIZE},
      {"another version", {kFrameVersion + 1, kFrameData, 0, 1, 4}, EPROTO},
      {"an unknown type", {kFrameVersion, 9, 0, 1, 4}, EINVAL},
      {"unknown flags", {kFrameVersion, kFrameData, 2, 1, 4}, EINVAL},
      {"a channel frame on channel 0", {kFrameVersion, kFrameData, 0, 0, 4}, EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RawPeer peer;
    const std::shared_ptr<Link> link = peer.startLink(Link::Side::Agent);
    peer.hello();
    std::vector<uint8_t> bytes(kFrameHeaderSize);
    EncodeFrameHeader(c.header, bytes.data());
    peer.sendBytes(bytes);
    const std::optional<FrameError> refusal = ErrorOf(peer.next(kFrameError));
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->error, c.error);
    EXPECT_TRUE(WaitUntil([&] { return link->lost(); }));
    EXPECT_EQ(link->lostError(), c.error);
    EXPECT_EQ(link->accept(), nullptr);
  }
}

// Frames whose bounds are sound but whose content is wrong are refused one by one, and the
// stream goes on: data for a channel that is not open, a hello that cannot be read, an opening
// from the agent's side, more than a channel had room for.
TEST(Link, AFrameThatBreaksARuleIsRefusedAndTheStreamGoesOn) {
  RawPeer peer;
  const std::shared_ptr<Link> agent = peer.startLink(Link::Side::Agent);
  peer.send(kFrameHello, 0, {1, 2});
  EXPECT_EQ(ErrorOf(peer.next(kFrameError))->error, EINVAL);
  peer.hello();
  peer.send(kFrameData, 99, {1});
  const std::optional<FrameError> unknown = ErrorOf(peer.next(kFrameError));
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->error, ENOENT);
  EXPECT_EQ(unknown->channel, 99u);

  peer.send(kFrameOpen, 1, OpenPayload(7, 8));
  const std::shared_ptr<Channel> channel = agent->accept();
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(channel->opened().service, 7);
  EXPECT_EQ(channel->opened().request, (std::vector<uint8_t>{1, 2, 3}));
  // The channel's room is its window; one byte more ends it.
  const std::vector<uint8_t> full(kFramePayloadLimit, 'x');
  for (uint32_t sent = 0; sent < kChannelWindow; sent += kFramePayloadLimit) {
    peer.send(kFrameData, 1, full, kFrameMore);
  }
  peer.send(kFrameData, 1, {'y'});
  EXPECT_EQ(ErrorOf(peer.next(kFrameError))->error, EMSGSIZE);
  std::vector<uint8_t> message;
  EXPECT_EQ(channel->receive(&message, nullptr, 5000), kChannelEnded);
  EXPECT_EQ(channel->closeStatus(), EMSGSIZE);
  EXPECT_TRUE(channel->ended().cancelled());

  // The window opens channels, the agent never: a window's link refuses an opening.
  RawPeer agentPeer;
  const std::shared_ptr<Link> window = agentPeer.startLink(Link::Side::Window);
  agentPeer.send(kFrameOpen, 5, OpenPayload(1, 1));
  EXPECT_EQ(ErrorOf(agentPeer.next(kFrameError))->error, EINVAL);
  EXPECT_FALSE(agent->lost());
  EXPECT_FALSE(window->lost());
}

// A stream that ends inside a frame, or a length that says more than comes, ends the link; the
// waiting calls return.
TEST(Link, AStreamThatEndsInsideAFrameEndsTheLink) {
  RawPeer peer;
  const std::shared_ptr<Link> window = peer.startLink(Link::Side::Window);
  const std::shared_ptr<Channel> channel = window->open(1, 1, {});
  std::vector<uint8_t> frame = EncodeFrame(kFrameData, channel->id(), "0123456789", 10);
  frame[kFrameHeaderSize - 1] = 100;  // the length says 100
  peer.sendBytes(frame);
  peer.endWriting();
  std::vector<uint8_t> message;
  EXPECT_EQ(channel->receive(&message, nullptr, 10000), EPIPE);
  EXPECT_TRUE(window->lost());
  EXPECT_EQ(channel->send({1}), EPIPE);
  EXPECT_TRUE(peer.ended());
}

// A side that never reads one channel: the other side's sends on it wait once the channel's
// window is full (nothing more is held), while another channel goes on both ways.
TEST(Link, ASideThatDoesNotReadHoldsOnlyItsWindowAndTheOthersGoOn) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  Hello windowHello, agentHello;
  agentHello.hostName = "agent";
  const std::shared_ptr<Link> window =
      Link::Start(pair[0], dup(pair[0]), Link::Side::Window, windowHello);
  const std::shared_ptr<Link> agent =
      Link::Start(pair[1], dup(pair[1]), Link::Side::Agent, agentHello);
  const std::shared_ptr<Channel> flood = window->open(1, 1, {});
  const std::shared_ptr<Channel> flooding = agent->accept();
  ASSERT_NE(flooding, nullptr);
  std::atomic<size_t> sent{0};
  std::thread sender([&] {
    const std::vector<uint8_t> message(kFramePayloadLimit, 'f');
    while (flooding->send(message, &flooding->ended()) == 0) sent += message.size();
  });
  ASSERT_TRUE(WaitUntil([&] { return sent >= kChannelWindow; }));
  const size_t held = sent;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LE(sent.load(), 2 * size_t(kChannelWindow)) << "its window, and what waits to go out";
  EXPECT_LE(sent.load(), held + 2 * size_t(kChannelWindow));

  const std::shared_ptr<Channel> other = window->open(2, 2, {9});
  const std::shared_ptr<Channel> served = agent->accept();
  ASSERT_NE(served, nullptr);
  EXPECT_EQ(served->opened().request, (std::vector<uint8_t>{9}));
  EXPECT_EQ(served->send({4, 2}), 0);
  std::vector<uint8_t> answer;
  EXPECT_EQ(other->receive(&answer, nullptr, 5000), 0);
  EXPECT_EQ(answer, (std::vector<uint8_t>{4, 2}));

  flood->close(ECANCELED);  // the agent's sender is let go
  sender.join();
  EXPECT_TRUE(flooding->ended().cancelled());
}

// The agent itself ends when its input closes; a hostile frame on the way is refused and the
// agent serves on.
TEST(Agent, RefusesAHostileFrameServesOnAndEndsWithItsInput) {
  int toAgent[2], fromAgent[2];
  ASSERT_EQ(pipe2(toAgent, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(fromAgent, O_CLOEXEC), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(toAgent[0], 0);
    dup2(fromAgent[1], 1);
    execl(PELORIN_AGENT_PATH, PELORIN_AGENT_PATH, nullptr);
    _exit(127);
  }
  close(toAgent[0]);
  close(fromAgent[1]);
  const std::shared_ptr<Link> window =
      Link::Start(fromAgent[0], toAgent[1], Link::Side::Window, Hello());
  const std::optional<Hello> hello = window->peerHello(10000);
  ASSERT_TRUE(hello);
  EXPECT_TRUE(hello->program.starts_with("pelorin-agent "));
  EXPECT_NE(hello->abilities & kAbilityServices, 0u);
  // A service the agent does not have, and a request it cannot read.
  const auto call = [&](uint16_t service, uint16_t operation, std::vector<uint8_t> request) {
    return CallOverLink(*window, service, operation, request, nullptr,
                        [](const std::vector<uint8_t>&) { return true; });
  };
  EXPECT_EQ(call(999, 1, {}), ENOSYS);
  EXPECT_EQ(call(1, 1, {0xff}), EINVAL);
  EXPECT_EQ(call(1, 1, {0, 0, 0, 9, 'l', 'o', 'c', 'a', 'l', 'h', 'o', 's', 't', 0, 0, 1, 0}), 0);
  window->end();
  int status = -1;
  ASSERT_TRUE(WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
