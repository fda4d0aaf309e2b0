#include <cerrno>
#include <thread>

#include "agent/serve.h"
#include "capture/capture_service.h"
#include "wire/capture_records.h"

namespace {

// Bytes a message carries at most: small enough that a capture's messages take turns with every
// other channel's, large enough that a flood costs few messages.
constexpr size_t kBytesPerMessage = size_t(256) << 10;

// Until `done`: a stop message from the window, or the channel's end, stops the capture.
void WatchForStop(Channel& channel, RunToken& stop, const RunToken& done) {
  std::vector<uint8_t> message;
  for (;;) {
    const int got = channel.receive(&message, &done);
    if (got == ECANCELED) return;
    if (got != 0 || CaptureMessageKind(message) == kCaptureStop) break;
  }
  stop.cancel();
}

// The capture's frames as they come, each read's at once, until it stops or fails; then how it
// ended.
void StreamCapture(Channel& channel, CaptureSession& session, const RunToken& stop) {
  CaptureBatch batch;
  std::vector<uint8_t> message;
  while (session.read(batch, kCaptureFramesPerMessage, stop)) {
    for (const CaptureFrame& frame : batch.frames) {
      AppendCaptureFrame(message, frame);
      if (message.size() < kBytesPerMessage) continue;
      if (channel.send(message, &stop) != 0) break;
      message.clear();
    }
    if (!message.empty() && channel.send(message, &stop) != 0) break;
    message.clear();
  }
  channel.send(EncodeCaptureEnded(session.close()), &channel.ended());
}

void OpenCapture(Channel& channel, CaptureService& capture) {
  const std::optional<CaptureAsked> asked = DecodeCaptureAsked(channel.opened().request);
  if (!asked) return channel.close(EINVAL);
  RunToken stop;
  RunToken done;
  std::thread watcher([&] { WatchForStop(channel, stop, done); });
  CaptureOpening opening = capture.open(asked->address, asked->filter, stop);
  if (opening.session) {
    const CaptureOpenedRecord opened{opening.session->linkType(), opening.session->snapLength()};
    if (channel.send(EncodeCaptureOpened(opened), &stop) == 0) {
      StreamCapture(channel, *opening.session, stop);
    }
    opening.session.reset();
  }
  done.cancel();
  watcher.join();
  channel.close(opening.error);
}

}  // namespace

void ServeCapture(Channel& channel, CaptureService& capture) {
  switch (channel.opened().operation) {
    case kCaptureAddresses:
      channel.send(EncodeCaptureAddresses(capture.captureAddresses()), &channel.ended());
      return channel.close(0);
    case kCaptureOpen:
      return OpenCapture(channel, capture);
    default:
      return channel.close(ENOSYS);
  }
}
