#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "host/link.h"

namespace {

using Clock = std::chrono::steady_clock;

// An eventfd that is readable while something waits: set, then cleared by the one who takes it.
class Signal {
 public:
  Signal() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~Signal() {
    if (fd_ >= 0) close(fd_);
  }
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  void set() const {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
  }
  void clear() const {
    uint64_t count;
    [[maybe_unused]] ssize_t n = read(fd_, &count, sizeof count);
  }
  int fd() const { return fd_; }

 private:
  const int fd_;
};

// Waits until one of the descriptors is readable, `token` is cancelled or the deadline passed:
// 0, ECANCELED or ETIMEDOUT.
int WaitReadable(std::initializer_list<int> fds, const RunToken* token, int timeoutMs,
                 Clock::time_point deadline) {
  pollfd p[4];
  nfds_t count = 0;
  for (const int fd : fds) p[count++] = {fd, POLLIN, 0};
  if (token != nullptr) {
    if (token->cancelled()) return ECANCELED;
    p[count++] = {token->wakeFd(), POLLIN, 0};
  }
  int waitMs = -1;
  if (timeoutMs >= 0) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    waitMs = int(std::max<int64_t>(0, left.count()));
  }
  const int ready = poll(p, count, waitMs);
  if (token != nullptr && token->cancelled()) return ECANCELED;
  if (ready == 0) return ETIMEDOUT;
  return 0;
}

struct OutFrame {
  std::vector<uint8_t> bytes;
  uint32_t credit = 0;  // the payload a data frame takes of the other side's room
  bool closes = false;
};

}  // namespace

struct ChannelState {
  explicit ChannelState(uint32_t channelId) : id(channelId), ended(NewRunToken()) {}

  const uint32_t id;
  OpenRequest opened;
  // From the other side.
  std::deque<std::vector<uint8_t>> inbox;
  size_t inboxBytes = 0;
  std::vector<uint8_t> partial;    // a message whose last frame has not come
  uint32_t room = kChannelWindow;  // what the other side may still send
  bool peerClosed = false;
  int peerStatus = 0;
  Signal ready;  // set when a message or the end comes
  // To the other side.
  std::deque<OutFrame> outbox;
  size_t outboxBytes = 0;
  uint32_t credit = kChannelWindow;  // what this side may still send
  bool closedHere = false;
  Signal spaced;  // set when the outbox takes more
  RunTokenPtr ended;
};

struct Link::State {
  int in = -1;
  int out = -1;
  Signal stop;
  mutable std::mutex mutex;
  std::condition_variable wake;  // the writer's
  std::condition_variable helloCame;
  std::deque<std::vector<uint8_t>> control;  // frames outside the channels' room
  std::map<uint32_t, std::shared_ptr<ChannelState>> channels;
  uint32_t nextId = 1;
  uint32_t lastServed = 0;  // the writer's turn goes on after this channel
  std::deque<std::shared_ptr<ChannelState>> accepted;
  Signal acceptReady;
  std::optional<Hello> peerHello;
  std::optional<FrameError> peerError;
  size_t buffered = 0;  // bytes in every inbox and partial message
  bool lost = false;
  int lostError = 0;
  bool endedHere = false;
  std::function<void()> onLost;  // called once, when lost but not ended here
  bool lostTold = false;
  std::thread reader;
  std::thread writer;
};

namespace {

using State = Link::State;

void LoseLocked(State& s, int error) {
  if (s.lost) return;
  s.lost = true;
  s.lostError = error;
  for (auto& [id, c] : s.channels) {
    c->ended->cancel();
    c->ready.set();
    c->spaced.set();
  }
  s.acceptReady.set();
  s.stop.set();
  s.wake.notify_all();
  s.helloCame.notify_all();
}

void SendControlLocked(State& s, uint8_t type, uint32_t channel,
                       const std::vector<uint8_t>& payload) {
  s.control.push_back(EncodeFrame(type, channel, payload.data(), payload.size()));
  s.wake.notify_all();
}

void RefuseLocked(State& s, uint32_t channel, int error, const char* why) {
  SendControlLocked(s, kFrameError, 0, EncodeFrameError({channel, error, why}));
}

// Forgets a channel both sides have ended and whose frames have all gone out.
void ForgetIfDoneLocked(State& s, const std::shared_ptr<ChannelState>& c) {
  if (c->peerClosed && c->closedHere && c->outbox.empty()) {
    s.buffered -= c->inboxBytes + c->partial.size();
    c->inboxBytes = 0;
    c->inbox.clear();
    c->partial.clear();
    s.channels.erase(c->id);
  }
}

bool ReadExactly(State& s, uint8_t* data, size_t size) {
  size_t got = 0;
  while (got < size) {
    pollfd p[2] = {{s.in, POLLIN, 0}, {s.stop.fd(), POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (p[1].revents != 0) return false;
    const ssize_t n = read(s.in, data + got, size - got);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    got += size_t(n);
  }
  return true;
}

bool WriteAll(State& s, const std::vector<uint8_t>& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = write(s.out, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    pollfd p[2] = {{s.out, POLLOUT, 0}, {s.stop.fd(), POLLIN, 0}};
    if (poll(p, 2, -1) < 0 && errno != EINTR) return false;
    if (p[1].revents != 0) return false;
  }
  return true;
}

// A data frame: a piece of a message, within the room the channel gave.
void TakeDataLocked(State& s, const FrameHeader& h, std::vector<uint8_t>& payload) {
  const auto found = s.channels.find(h.channel);
  if (found == s.channels.end()) {
    RefuseLocked(s, h.channel, ENOENT, "data for a channel that is not open");
    return;
  }
  ChannelState& c = *found->second;
  if (c.closedHere) return;  // a late message of a channel this side ended
  if (h.length > c.room || c.partial.size() + h.length > kMessageLimit ||
      s.buffered + h.length > kLinkBufferLimit) {
    RefuseLocked(s, h.channel, EMSGSIZE, "more than the channel had room for");
    c.peerClosed = true;
    c.peerStatus = EMSGSIZE;
    c.ended->cancel();
    c.ready.set();
    return;
  }
  c.room -= h.length;
  s.buffered += h.length;
  c.partial.insert(c.partial.end(), payload.begin(), payload.end());
  if ((h.flags & kFrameMore) != 0) return;
  c.inboxBytes += c.partial.size();
  c.inbox.push_back(std::move(c.partial));
  c.partial.clear();
  c.ready.set();
}

void TakeOpenLocked(State& s, const FrameHeader& h, const std::vector<uint8_t>& payload,
                    bool opensHere) {
  if (opensHere || s.channels.count(h.channel) != 0) {
    RefuseLocked(s, h.channel, EINVAL, "a channel this side did not expect");
    return;
  }
  const std::optional<OpenRequest> open = DecodeOpen(payload.data(), payload.size());
  const int error = !open ? EINVAL : s.channels.size() >= kMostChannels ? EBUSY : 0;
  if (error != 0) {
    SendControlLocked(s, kFrameClose, h.channel, EncodeValue(uint32_t(error)));
    return;
  }
  auto c = std::make_shared<ChannelState>(h.channel);
  c->opened = *open;
  s.channels.emplace(h.channel, c);
  s.accepted.push_back(c);
  s.acceptReady.set();
}

void TakeCloseLocked(State& s, const FrameHeader& h, const std::vector<uint8_t>& payload) {
  const auto found = s.channels.find(h.channel);
  if (found == s.channels.end()) return;  // a channel already gone
  const std::shared_ptr<ChannelState> c = found->second;
  const std::optional<uint32_t> status = DecodeValue(payload.data(), payload.size());
  c->peerClosed = true;
  c->peerStatus = status ? int(int32_t(*status)) : EPROTO;
  s.buffered -= c->partial.size();
  c->partial.clear();
  c->ended->cancel();
  c->ready.set();
  ForgetIfDoneLocked(s, c);
}

void TakeCreditLocked(State& s, const FrameHeader& h, const std::vector<uint8_t>& payload) {
  const auto found = s.channels.find(h.channel);
  const std::optional<uint32_t> value = DecodeValue(payload.data(), payload.size());
  if (found == s.channels.end()) return;
  ChannelState& c = *found->second;
  if (!value || *value > kChannelWindow - c.credit) {
    RefuseLocked(s, h.channel, EINVAL, "room beyond the channel's window");
    return;
  }
  c.credit += *value;
  s.wake.notify_all();
}

void ReadFrames(State& s, bool opensHere) {
  std::vector<uint8_t> payload;
  for (;;) {
    uint8_t head[kFrameHeaderSize];
    if (!ReadExactly(s, head, sizeof head)) break;
    FrameHeader h;
    const int rule = DecodeFrameHeader(head, &h);
    if (rule != 0) {
      std::lock_guard<std::mutex> lock(s.mutex);
      RefuseLocked(s, h.channel, rule, "a frame header that breaks the rules; the stream ends");
      // The refusal goes out before the stream ends.
      s.wake.notify_all();
      s.lostError = rule;
      break;
    }
    payload.resize(h.length);
    if (!ReadExactly(s, payload.data(), payload.size())) break;
    std::lock_guard<std::mutex> lock(s.mutex);
    switch (h.type) {
      case kFrameHello:
        if (!s.peerHello) s.peerHello = DecodeHello(payload.data(), payload.size());
        if (!s.peerHello) RefuseLocked(s, 0, EINVAL, "a hello that cannot be read");
        s.helloCame.notify_all();
        break;
      case kFrameError:
        s.peerError = DecodeFrameError(payload.data(), payload.size());
        break;
      case kFrameOpen:
        TakeOpenLocked(s, h, payload, opensHere);
        break;
      case kFrameData:
        TakeDataLocked(s, h, payload);
        break;
      case kFrameClose:
        TakeCloseLocked(s, h, payload);
        break;
      case kFrameCredit:
        TakeCreditLocked(s, h, payload);
        break;
      default:
        break;
    }
  }
  std::unique_lock<std::mutex> lock(s.mutex);
  const int why = s.lostError != 0 ? s.lostError : EPIPE;
  // Let a last refusal out, briefly, before the stream ends.
  s.wake.wait_for(lock, std::chrono::milliseconds(200), [&] { return s.control.empty(); });
  LoseLocked(s, why);
  close(s.in);
  s.in = -1;
  // Told outside the lock, which the one told may need.
  std::function<void()> tell;
  if (!s.endedHere && !s.lostTold) std::swap(tell, s.onLost);
  s.lostTold = true;
  lock.unlock();
  if (tell) tell();
}

// The next frame to write: the stream's own first, then the channels in turn.
bool NextFrameLocked(State& s, OutFrame* frame) {
  if (!s.control.empty()) {
    frame->bytes = std::move(s.control.front());
    frame->credit = 0;
    frame->closes = false;
    s.control.pop_front();
    return true;
  }
  if (s.channels.empty()) return false;
  auto at = s.channels.upper_bound(s.lastServed);
  for (size_t i = 0; i < s.channels.size(); ++i, ++at) {
    if (at == s.channels.end()) at = s.channels.begin();
    ChannelState& c = *at->second;
    if (c.outbox.empty() || c.outbox.front().credit > c.credit) continue;
    *frame = std::move(c.outbox.front());
    c.outbox.pop_front();
    c.outboxBytes -= frame->bytes.size();
    c.credit -= frame->credit;
    c.spaced.set();
    s.lastServed = c.id;
    if (frame->closes) ForgetIfDoneLocked(s, at->second);
    return true;
  }
  return false;
}

void WriteFrames(State& s) {
  std::unique_lock<std::mutex> lock(s.mutex);
  for (;;) {
    OutFrame frame;
    s.wake.wait(lock, [&] { return s.lost || NextFrameLocked(s, &frame); });
    if (frame.bytes.empty()) break;  // lost, with nothing taken
    lock.unlock();
    const bool written = WriteAll(s, frame.bytes);
    lock.lock();
    if (!written) {
      LoseLocked(s, EPIPE);
      break;
    }
    s.wake.notify_all();  // a reader waiting for the control frames to go out
  }
  // The other side learns of the end at once, even while this side's object lives on.
  close(s.out);
  s.out = -1;
}

std::vector<OutFrame> FramesOf(uint32_t channel, const std::vector<uint8_t>& message) {
  std::vector<OutFrame> frames;
  size_t at = 0;
  do {
    const size_t size = std::min<size_t>(kFramePayloadLimit, message.size() - at);
    const bool more = at + size < message.size();
    frames.push_back(
        {EncodeFrame(kFrameData, channel, message.data() + at, size, more ? kFrameMore : 0),
         uint32_t(size), false});
    at += size;
  } while (at < message.size());
  return frames;
}

}  // namespace

std::shared_ptr<Link> Link::Start(int in, int out, Side side, const Hello& own) {
  // A stream whose other side went (an ssh that ended) is a write that fails with EPIPE and a
  // link that is lost, never a signal that ends this process.
  signal(SIGPIPE, SIG_IGN);
  std::shared_ptr<Link> link(new Link);
  link->state_ = std::make_unique<State>();
  State& s = *link->state_;
  s.in = in;
  s.out = out;
  fcntl(out, F_SETFL, fcntl(out, F_GETFL) | O_NONBLOCK);
  const bool opensHere = side == Side::Window;
  SendControlLocked(s, kFrameHello, 0, EncodeHello(own));
  try {
    s.reader = std::thread([&s, opensHere] { ReadFrames(s, opensHere); });
    s.writer = std::thread([&s] { WriteFrames(s); });
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(s.mutex);
    LoseLocked(s, EAGAIN);
  }
  return link;
}

Link::~Link() {
  end();
  // Each thread closes its end of the stream as it finishes; what has none is closed here.
  if (state_->reader.joinable()) state_->reader.join();
  if (state_->writer.joinable()) state_->writer.join();
  if (state_->in >= 0) close(state_->in);
  if (state_->out >= 0) close(state_->out);
}

void Link::end() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->lost) state_->endedHere = true;
  LoseLocked(*state_, EPIPE);
}

void Link::onLost(std::function<void()> lost) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  if (!state_->lostTold) {
    state_->onLost = std::move(lost);
    return;
  }
  const bool tell = !state_->endedHere;
  lock.unlock();
  if (tell) lost();
}

std::optional<Hello> Link::peerHello(int timeoutMs) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->helloCame.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return state_->peerHello || state_->lost; });
  return state_->peerHello;
}

bool Link::lost() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->lost;
}

int Link::lostError() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->lostError;
}

std::optional<FrameError> Link::lastPeerError() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->peerError;
}

std::shared_ptr<Channel> Link::open(uint16_t service, uint16_t operation,
                                    const std::vector<uint8_t>& request) {
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  uint32_t id = s.nextId;
  while (id == 0 || s.channels.count(id) != 0) ++id;
  s.nextId = id + 1;
  auto c = std::make_shared<ChannelState>(id);
  c->opened = {service, operation, request};
  std::shared_ptr<Channel> channel(new Channel(shared_from_this(), c));
  if (s.lost) {
    c->ended->cancel();
    return channel;  // every call on it fails with EPIPE
  }
  s.channels.emplace(id, c);
  SendControlLocked(s, kFrameOpen, id, EncodeOpen(c->opened));
  return channel;
}

std::shared_ptr<Channel> Link::accept() {
  State& s = *state_;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      if (!s.accepted.empty()) {
        std::shared_ptr<ChannelState> c = std::move(s.accepted.front());
        s.accepted.pop_front();
        return std::shared_ptr<Channel>(new Channel(shared_from_this(), c));
      }
      if (s.lost) return nullptr;
      s.acceptReady.clear();
    }
    WaitReadable({s.acceptReady.fd()}, nullptr, -1, Clock::now());
  }
}

Channel::Channel(std::shared_ptr<Link> link, std::shared_ptr<ChannelState> state)
    : link_(std::move(link)), state_(std::move(state)) {}

Channel::~Channel() {
  close(ECANCELED);
}

uint32_t Channel::id() const {
  return state_->id;
}

const OpenRequest& Channel::opened() const {
  return state_->opened;
}

const RunToken& Channel::ended() const {
  return *state_->ended;
}

int Channel::send(const std::vector<uint8_t>& message, const RunToken* token, bool wait) {
  if (message.size() > kMessageLimit) return EMSGSIZE;
  State& s = *link_->state_;
  ChannelState& c = *state_;
  std::vector<OutFrame> frames = FramesOf(c.id, message);
  const size_t size = message.size() + frames.size() * kFrameHeaderSize;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      if (s.lost || c.closedHere || c.peerClosed) return EPIPE;
      // Room for it beside what waits, or an empty outbox for a message of the window's size.
      if (c.outboxBytes == 0 || c.outboxBytes + size <= kChannelWindow) {
        for (OutFrame& frame : frames) c.outbox.push_back(std::move(frame));
        c.outboxBytes += size;
        s.wake.notify_all();
        return 0;
      }
      if (!wait) return EAGAIN;
      c.spaced.clear();
    }
    if (WaitReadable({c.spaced.fd()}, token, -1, Clock::now()) == ECANCELED) return ECANCELED;
  }
}

int Channel::receive(std::vector<uint8_t>* message, const RunToken* token, int timeoutMs) {
  State& s = *link_->state_;
  ChannelState& c = *state_;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      if (!c.inbox.empty()) {
        *message = std::move(c.inbox.front());
        c.inbox.pop_front();
        c.inboxBytes -= message->size();
        s.buffered -= message->size();
        // The room the message took is the other side's again.
        if (!c.peerClosed && !c.closedHere && !s.lost) {
          c.room += uint32_t(message->size());
          SendControlLocked(s, kFrameCredit, c.id, EncodeValue(uint32_t(message->size())));
        }
        return 0;
      }
      if (c.peerClosed) return kChannelEnded;
      if (s.lost) return EPIPE;
      c.ready.clear();
    }
    const int waited = WaitReadable({c.ready.fd()}, token, timeoutMs, deadline);
    if (waited != 0) return waited;
  }
}

int Channel::closeStatus() const {
  std::lock_guard<std::mutex> lock(link_->state_->mutex);
  return state_->peerStatus;
}

void Channel::close(int status) {
  State& s = *link_->state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  ChannelState& c = *state_;
  if (c.closedHere) return;
  c.closedHere = true;
  if (s.lost || s.channels.count(c.id) == 0) return;
  const std::vector<uint8_t> value = EncodeValue(uint32_t(status));
  c.outbox.push_back({EncodeFrame(kFrameClose, c.id, value.data(), value.size()), 0, true});
  c.outboxBytes += kFrameHeaderSize + value.size();
  s.wake.notify_all();
}

int CallOverLink(Link& link, uint16_t service, uint16_t operation,
                 const std::vector<uint8_t>& request, const RunToken* token,
                 const std::function<bool(const std::vector<uint8_t>&)>& onMessage) {
  const std::shared_ptr<Channel> channel = link.open(service, operation, request);
  std::vector<uint8_t> message;
  for (;;) {
    const int got = channel->receive(&message, token);
    if (got == kChannelEnded) {
      channel->close(0);
      return channel->closeStatus();
    }
    if (got != 0) return got;  // the channel's destructor cancels it
    if (!onMessage(message)) return EBADMSG;
  }
}
