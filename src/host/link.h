#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sys/run_token.h"
#include "wire/frame.h"

// One side of the framed byte stream between a window and pelorin-agent (wire/frame.h): the
// window opens channels, the agent accepts them, and both send messages on them. A reader thread
// takes the other side's frames, a writer thread sends this side's, taking the channels in turn
// one frame at a time within the room the other side gave, so no channel's flood delays
// another's messages. Whatever the other side sends is decoded within bounds: a frame that breaks
// a rule is answered with an error frame, and the stream goes on, or ends when its frames' bounds
// are lost; no channel holds more than kChannelWindow bytes the other side sent, and all of them
// together at most kLinkBufferLimit.

// Messages waiting on all of a link's channels at once, at most.
inline constexpr size_t kLinkBufferLimit = size_t(64) << 20;

// receive()'s result once the other side ended the channel and every message was taken.
inline constexpr int kChannelEnded = -1;

class Link;
struct ChannelState;

class Channel {
 public:
  ~Channel();  // ends the channel (close(ECANCELED)) when it is still open
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  uint32_t id() const;
  // What the window asked for.
  const OpenRequest& opened() const;

  // Sends one message of at most kMessageLimit bytes, waiting while the other side has no room:
  // 0, EPIPE once the channel or the link has ended, ECANCELED when `token` was cancelled first,
  // EMSGSIZE for a longer message. Without `wait`, EAGAIN at once instead of waiting for room
  // (for a caller that must never wait, as the UI thread).
  int send(const std::vector<uint8_t>& message, const RunToken* token = nullptr, bool wait = true);
  // The next message: 0 and `message`; kChannelEnded once the other side ended the channel and
  // every message was taken (closeStatus() then says how); EPIPE when the link was lost;
  // ECANCELED when `token` was cancelled first; ETIMEDOUT after `timeoutMs` (-1: none).
  int receive(std::vector<uint8_t>* message, const RunToken* token = nullptr, int timeoutMs = -1);
  // The errno the other side ended the channel with (0: its operation is done).
  int closeStatus() const;
  // Ends the channel from this side: on the window's side a cancel, on the agent's the end of
  // the operation with its errno. Messages sent before it go first.
  void close(int status = 0);
  // Cancelled when the other side ends the channel or the link is lost: the agent's operation
  // on the channel stops with it.
  const RunToken& ended() const;

 private:
  friend class Link;
  Channel(std::shared_ptr<Link> link, std::shared_ptr<ChannelState> state);

  std::shared_ptr<Link> link_;
  std::shared_ptr<ChannelState> state_;
};

class Link : public std::enable_shared_from_this<Link> {
 public:
  // Which side this is: the window opens channels, the agent accepts them.
  enum class Side { Window, Agent };
  // Starts a link over the byte stream `in` (read) and `out` (written), which it owns, and sends
  // `own` as its hello.
  static std::shared_ptr<Link> Start(int in, int out, Side side, const Hello& own);
  ~Link();

  // The other side's hello, waiting up to `timeoutMs` for it; nothing when it did not come or
  // the link was lost first.
  std::optional<Hello> peerHello(int timeoutMs);

  // The window's side: a new channel for one operation.
  std::shared_ptr<Channel> open(uint16_t service, uint16_t operation,
                                const std::vector<uint8_t>& request);
  // The agent's side: the next channel the window opened; null once the link is lost.
  std::shared_ptr<Channel> accept();

  // Whether the stream has ended or broke a rule; why (EPIPE for its end, else the errno of
  // the rule).
  bool lost() const;
  int lostError() const;
  // The last error frame the other side sent (for tests and messages).
  std::optional<FrameError> lastPeerError() const;
  // Ends the link: every channel ends with EPIPE, the stream is closed.
  void end();
  // `lost` is called once when the link is lost other than by end(): on the link's reader
  // thread, or here when it already was.
  void onLost(std::function<void()> lost);

  struct State;

 private:
  Link() = default;
  friend class Channel;
  std::unique_ptr<State> state_;
};

// One request and its replies on a new channel: each message the agent sends goes to
// `onMessage` (which returns false to stop reading, ending the channel), and the result is the
// errno the agent ended the channel with (0: done), EPIPE when the link was lost, ECANCELED when
// `token` was cancelled first, EBADMSG when `onMessage` refused a message.
int CallOverLink(Link& link, uint16_t service, uint16_t operation,
                 const std::vector<uint8_t>& request, const RunToken* token,
                 const std::function<bool(const std::vector<uint8_t>&)>& onMessage);
