#include <cerrno>
#include <memory>
#include <utility>

#include "capture/capture_file.h"
#include "capture/capture_service.h"
#include "capture/captured_packet.h"
#include "capture/filter_rules.h"
#include "host/helper_client.h"
#include "host/local_services.h"
#include "sys/local_addresses.h"

// This computer's captures: the privileged helper opens the capture on the interface that holds
// the chosen address, with the kernel filter it makes from the capture filter itself, and streams
// the frames as a capture file through a pipe, which the session reads with the capture library.
// The pipe stays in here.

namespace {

// How long the helper may take to say how the capture ended once its pipe is closed.
constexpr int kEndTimeoutMs = 2000;

class LocalCaptureSession : public CaptureSession {
 public:
  LocalCaptureSession(std::unique_ptr<HelperCall> call, CaptureFileReader* file,
                      const CaptureExclusion& exclusion)
      : call_(std::move(call)),
        file_(file),
        exclusion_(exclusion),
        linkType_(CaptureFileLinkType(file)),
        snapLength_(CaptureFileSnapLength(file)) {}
  ~LocalCaptureSession() override { close(); }

  int linkType() const override { return linkType_; }
  int snapLength() const override { return snapLength_; }

  // One frame a read: it stays in the capture library's buffer, copied nowhere.
  bool read(CaptureBatch& batch, size_t limit, const RunToken& token) override {
    batch.frames.clear();
    if (file_ == nullptr || limit == 0 || token.cancelled()) return false;
    WatchStopSignal(file_, token.wakeFd());
    CaptureFrame frame;
    do {
      if (ReadCaptureFrame(file_, &frame) != FrameRead::kFrame) return false;
    } while (Excluded(frame));
    batch.frames.push_back(frame);
    return true;
  }

  // The kernel leaves the excluded connection out already, except an IPv6 packet whose headers
  // it does not walk: judged here, so none reaches the window.
  bool Excluded(const CaptureFrame& frame) {
    if (!exclusion_.active) return false;
    if (!packet_) packet_ = std::make_unique<CapturedPacket>();
    return DecodeFrame(linkType_, frame.bytes, frame.capturedLength, packet_.get()) &&
           PacketIsExcluded(exclusion_, *packet_);
  }

  CaptureEnd close() override {
    CaptureEnd end;
    if (!call_) return end;
    CloseCaptureFileReader(file_);  // the closed pipe ends the capture
    file_ = nullptr;
    HelperReply reply;
    while (call_->next(reply, -1, kEndTimeoutMs) == 0) {
      if (reply.type() != kHelperCaptureEnded) continue;
      const auto ended = reply.as<HelperCaptureEndedReply>();
      end.counts.received = ended.received;
      end.counts.dropped = ended.dropped;
      end.error = ended.error;
      break;
    }
    call_.reset();
    return end;
  }

 private:
  std::unique_ptr<HelperCall> call_;
  CaptureFileReader* file_;
  const CaptureExclusion exclusion_;
  std::unique_ptr<CapturedPacket> packet_;  // a frame decoded for the exclusion
  const int linkType_;
  const int snapLength_;
};

class LocalCaptureService : public CaptureService {
 public:
  explicit LocalCaptureService(const CaptureExclusion& exclusion) : exclusion_(exclusion) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }

  std::vector<IpAddress> captureAddresses() override { return LocalAddressList().addresses(); }

  CaptureOpening open(const IpAddress& address, const CaptureFilter& filter,
                      const RunToken& token) override {
    CaptureOpening opening;
    auto request = NewHelperRecord<HelperCaptureRequest>(kHelperCapture);
    request.address = WireAddressOf(address);
    request.filter = WireFilterOf(filter);
    request.exclusion = WireExclusionOf(exclusion_);
    auto call = std::make_unique<HelperCall>(request);
    HelperReply reply;
    int code = call->error();
    if (code == 0) code = call->next(reply, token.wakeFd(), kHelperQuickTimeoutMs);
    if (code == ECANCELED) code = 0;
    if (code != 0 || reply.type() != kHelperCaptureOpened) {
      if (code == 0 && reply.type() != 0) code = reply.error() != 0 ? reply.error() : EIO;
      opening.error = code;
      return opening;
    }
    CaptureFileReader* file = ReadCaptureFrom(reply.takeFd(), token.wakeFd(), nullptr);
    if (file == nullptr) {
      opening.error = token.cancelled() ? 0 : EIO;  // no capture file came: a helper that went
      return opening;
    }
    opening.session = std::make_unique<LocalCaptureSession>(std::move(call), file, exclusion_);
    return opening;
  }

 private:
  const CaptureExclusion exclusion_;
};

}  // namespace

std::unique_ptr<CaptureService> NewLocalCaptureService(const CaptureExclusion& exclusion) {
  return std::make_unique<LocalCaptureService>(exclusion);
}
