#include <cerrno>
#include <chrono>

#include "capture/capture_service.h"
#include "host/remote_services.h"
#include "wire/capture_records.h"
#include "wire/services.h"

// Captures on the agent's host: the agent opens the capture there with the host's own helper,
// and its frames come over one channel, in messages of many frames, within the room the window
// gives the channel: a flood waits in the host's capture ring and never in the window's memory.

namespace {

// How long the agent may take to say how a stopped capture ended.
constexpr int kEndTimeoutMs = 2000;

class RemoteCaptureSession : public CaptureSession {
 public:
  RemoteCaptureSession(std::shared_ptr<Channel> channel, const CaptureOpenedRecord& opened)
      : channel_(std::move(channel)), opened_(opened) {}
  ~RemoteCaptureSession() override { close(); }

  int linkType() const override { return opened_.linkType; }
  int snapLength() const override { return opened_.snapLength; }

  // Every message already here is taken with the first, up to `limit` frames; a message that
  // would not fit waits for the next read. (The agent sends at most kCaptureFramesPerMessage
  // frames a message, so a `limit` below that may refuse one.)
  bool read(CaptureBatch& batch, size_t limit, const RunToken& token) override {
    batch.frames.clear();
    batch.bytes.clear();
    if (limit == 0) return false;
    std::vector<uint8_t> message;
    if (!held_.empty()) {
      message.swap(held_);
      if (!take(message, batch, limit)) return false;
    }
    while (!ended_ && batch.bytes.size() < kMessageLimit) {
      const int got = channel_->receive(&message, &token, batch.frames.empty() ? -1 : 0);
      if (got == ETIMEDOUT) break;
      if (got != 0) {
        if (got != ECANCELED) endWith(got);
        break;
      }
      if (!take(message, batch, limit)) break;
    }
    return !batch.frames.empty();
  }

  CaptureEnd close() override {
    if (closed_) return {};
    closed_ = true;
    if (!ended_) {
      channel_->send(EncodeCaptureStop(), nullptr, false);
      const auto deadline =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndTimeoutMs);
      CaptureBatch ignored;
      std::vector<uint8_t> message;
      while (!ended_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int got =
            channel_->receive(&message, nullptr, int(std::max<int64_t>(0, left.count())));
        if (got != 0) {
          if (got != ETIMEDOUT) endWith(got);
          break;
        }
        ignored.frames.clear();
        ignored.bytes.clear();
        take(message, ignored, SIZE_MAX);  // frames sent before the stop arrived
      }
    }
    channel_->close();
    return end_;
  }

 private:
  // One message of the channel: its frames go to the batch, or wait for the next read when
  // they do not fit; the capture's end ends the session, as does a message that cannot be read
  // (the agent's capture then ends with the channel). False when nothing more is to be taken.
  bool take(std::vector<uint8_t>& message, CaptureBatch& batch, size_t limit) {
    if (CaptureMessageKind(message) == kCaptureFrames) {
      if (DecodeCaptureFrames(message, batch, limit)) return true;
      if (!batch.frames.empty()) {
        held_.swap(message);
        return false;
      }
    } else if (const std::optional<CaptureEnd> end = DecodeCaptureEnded(message)) {
      ended_ = true;
      end_ = *end;
      return false;
    }
    endWith(EBADMSG);
    channel_->close(ECANCELED);
    return false;
  }
  // The channel ended without the capture's end: the agent's link went, as a failed socket.
  void endWith(int got) {
    ended_ = true;
    end_ = {};
    end_.error =
        got == kChannelEnded && channel_->closeStatus() != 0 ? channel_->closeStatus() : EPIPE;
  }

  std::shared_ptr<Channel> channel_;
  const CaptureOpenedRecord opened_;
  bool ended_ = false;
  bool closed_ = false;
  CaptureEnd end_;
  std::vector<uint8_t> held_;  // a frames message the last read had no room for
};

class RemoteCaptureService : public CaptureService {
 public:
  explicit RemoteCaptureService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  std::vector<IpAddress> captureAddresses() override {
    std::optional<std::vector<IpAddress>> addresses;
    CallOverLink(*link_, kServiceCapture, kCaptureAddresses, {}, nullptr,
                 [&](const std::vector<uint8_t>& message) {
                   addresses = DecodeCaptureAddresses(message);
                   return addresses.has_value();
                 });
    return addresses.value_or(std::vector<IpAddress>{});
  }

  CaptureOpening open(const IpAddress& address, const CaptureFilter& filter,
                      const RunToken& token) override {
    CaptureOpening opening;
    std::shared_ptr<Channel> channel =
        link_->open(kServiceCapture, kCaptureOpen, EncodeCaptureAsked({address, filter}));
    std::vector<uint8_t> message;
    const int got = channel->receive(&message, &token);
    if (got == 0) {
      if (const std::optional<CaptureOpenedRecord> opened = DecodeCaptureOpened(message)) {
        opening.session = std::make_unique<RemoteCaptureSession>(std::move(channel), *opened);
        return opening;
      }
      opening.error = EIO;  // an agent that says something else
    } else if (got == kChannelEnded) {
      opening.error = channel->closeStatus() != 0 ? channel->closeStatus() : EIO;
    } else if (got != ECANCELED) {
      opening.error = EPIPE;  // the agent's link is lost
    }
    channel->close(ECANCELED);
    return opening;
  }

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<CaptureService> NewRemoteCaptureService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteCaptureService>(std::move(link));
}
