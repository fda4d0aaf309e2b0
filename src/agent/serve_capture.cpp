#include <cerrno>
#include <condition_variable>
#include <mutex>
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

// The capture's frames as they come, until it stops or fails; then how it ended. A thread of
// its own reads the capture into the next message while this one sends the last, so a flood
// goes in few large messages and a lone frame at once; the reader waits while the next message
// is full, and the capture's ring takes up the slack.
void StreamCapture(Channel& channel, CaptureSession& session, RunToken& stop) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<uint8_t> next;  // the next message
  size_t frames = 0;          // in it
  bool readerDone = false;
  bool senderDone = false;
  std::thread reader([&] {
    CaptureBatch batch;
    while (session.read(batch, kCaptureFramesPerMessage, stop)) {
      std::unique_lock<std::mutex> lock(mutex);
      for (const CaptureFrame& frame : batch.frames) {
        changed.wait(lock, [&] {
          return senderDone ||
                 (next.size() < kBytesPerMessage && frames < kCaptureFramesPerMessage);
        });
        if (senderDone) break;
        AppendCaptureFrame(next, frame);
        ++frames;
      }
      changed.notify_all();
      if (senderDone) break;
    }
    std::lock_guard<std::mutex> lock(mutex);
    readerDone = true;
    changed.notify_all();
  });
  std::vector<uint8_t> message;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return readerDone || !next.empty(); });
      if (next.empty()) break;
      message.swap(next);
      next.clear();
      frames = 0;
      changed.notify_all();
    }
    if (channel.send(message, &stop) != 0) break;
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    senderDone = true;
    changed.notify_all();
    // A reader still in the capture's wait ends with the stop, which a failed send also means.
    if (!readerDone) stop.cancel();
  }
  reader.join();
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
