#include <cerrno>
#include <memory>

#include "capture/capture_stream.h"
#include "host/helper_client.h"

namespace {

// How long the helper may take to say how the capture ended once its pipe is closed.
constexpr int kEndTimeoutMs = 2000;

}  // namespace

struct CaptureStream {
  std::unique_ptr<HelperCall> call;
  CaptureFileReader* file = nullptr;
  int linkType = 0;
};

CaptureStream* OpenCaptureStream(const IpAddress& address, const CaptureFilter& filter, int stopFd,
                                 int* error) {
  int ignored = 0;
  int& code = error != nullptr ? *error : ignored;
  auto request = NewHelperRecord<HelperCaptureRequest>(kHelperCapture);
  request.address = WireAddressOf(address);
  request.filter = WireFilterOf(filter);
  auto stream = std::make_unique<CaptureStream>();
  stream->call = std::make_unique<HelperCall>(request);
  HelperReply reply;
  code = stream->call->error();
  if (code == 0) code = stream->call->next(reply, stopFd, kHelperQuickTimeoutMs);
  if (code == ECANCELED) code = 0;
  if (code != 0 || reply.type() != kHelperCaptureOpened) {
    if (code == 0 && reply.type() != 0) code = reply.error() != 0 ? reply.error() : EIO;
    return nullptr;
  }
  stream->file = ReadCaptureFrom(reply.takeFd(), stopFd, nullptr);
  if (stream->file == nullptr) {
    code = EIO;  // no capture file came: a stop, or a helper that went
    return nullptr;
  }
  stream->linkType = CaptureFileLinkType(stream->file);
  return stream.release();
}

int StreamLinkType(const CaptureStream* stream) {
  return stream != nullptr ? stream->linkType : -1;
}

int StreamSnapLength(const CaptureStream* stream) {
  return stream != nullptr ? CaptureFileSnapLength(stream->file) : 0;
}

bool ReadStreamFrame(CaptureStream* stream, CaptureFrame* frame) {
  return stream != nullptr && ReadCaptureFrame(stream->file, frame) == FrameRead::kFrame;
}

int ReadStreamPacket(CaptureStream* stream, CapturedPacket* record) {
  CaptureFrame frame;
  if (record == nullptr || !ReadStreamFrame(stream, &frame)) return -1;
  return DecodeFrame(stream->linkType, frame.bytes, frame.capturedLength, record)
             ? int(frame.capturedLength)
             : 0;
}

CaptureCounts CloseCaptureStream(CaptureStream* stream) {
  CaptureCounts counts;
  if (stream == nullptr) return counts;
  CloseCaptureFileReader(stream->file);  // the closed pipe ends the capture
  HelperReply reply;
  while (stream->call->next(reply, -1, kEndTimeoutMs) == 0) {
    if (reply.type() != kHelperCaptureEnded) continue;
    const auto ended = reply.as<HelperCaptureEndedReply>();
    counts.received = ended.received;
    counts.dropped = ended.dropped;
    break;
  }
  delete stream;
  return counts;
}
