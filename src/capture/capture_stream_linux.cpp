#include <pcap/pcap.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "capture/capture_stream.h"
#include "helper/helper_client.h"

namespace {

// Reads of the stream ask for this much at a time.
constexpr size_t kReadBufferBytes = 256 * 1024;
// How long the helper may take to say how the capture ended once its pipe is closed.
constexpr int kEndTimeoutMs = 2000;

// The pipe the stream comes through, read by the capture library as a file whose reads also
// end at the stop signal: a stopped read is the end of the file.
struct PipeCookie {
  int fd = -1;
  int stopFd = -1;
};

ssize_t ReadPipe(void* cookie, char* buffer, size_t size) {
  const auto* pipe = static_cast<const PipeCookie*>(cookie);
  for (;;) {
    pollfd fds[2] = {{pipe->fd, POLLIN, 0}, {pipe->stopFd, POLLIN, 0}};
    const int ready = poll(fds, pipe->stopFd >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (pipe->stopFd >= 0 && fds[1].revents != 0) return 0;
    const ssize_t n = read(pipe->fd, buffer, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return n;
  }
}

int ClosePipe(void* cookie) {
  const auto* pipe = static_cast<const PipeCookie*>(cookie);
  close(pipe->fd);
  delete pipe;
  return 0;
}

// The pipe as a file for the capture library; it closes the descriptor. Null on failure.
FILE* OpenPipeFile(int fd, int stopFd) {
  auto* cookie = new PipeCookie{fd, stopFd};
  FILE* file = fopencookie(cookie, "r", {ReadPipe, nullptr, nullptr, ClosePipe});
  if (file == nullptr) {
    ClosePipe(cookie);
    return nullptr;
  }
  setvbuf(file, nullptr, _IOFBF, kReadBufferBytes);
  return file;
}

}  // namespace

struct CaptureStream {
  std::unique_ptr<HelperCall> call;
  pcap_t* file = nullptr;
  int linkType = 0;
};

CaptureStream* OpenCaptureStream(uint32_t address, const CaptureFilter& filter, int stopFd,
                                 int* error) {
  int ignored = 0;
  int& code = error != nullptr ? *error : ignored;
  auto request = NewHelperRecord<HelperCaptureRequest>(kHelperCapture);
  request.address = WireIpv4(address);
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
  FILE* file = OpenPipeFile(reply.takeFd(), stopFd);
  char errorText[PCAP_ERRBUF_SIZE];
  stream->file = file != nullptr ? pcap_fopen_offline(file, errorText) : nullptr;
  if (stream->file == nullptr) {
    if (file != nullptr) fclose(file);
    code = EIO;  // no capture file came: a stop, or a helper that went
    return nullptr;
  }
  stream->linkType = pcap_datalink(stream->file);
  return stream.release();
}

int ReadStreamPacket(CaptureStream* stream, CapturedPacket* record) {
  if (stream == nullptr || record == nullptr) return -1;
  pcap_pkthdr* header = nullptr;
  const u_char* frame = nullptr;
  if (pcap_next_ex(stream->file, &header, &frame) != 1) return -1;
  return DecodeFrame(stream->linkType, frame, header->caplen, record) ? int(header->caplen) : 0;
}

CaptureCounts CloseCaptureStream(CaptureStream* stream) {
  CaptureCounts counts;
  if (stream == nullptr) return counts;
  pcap_close(stream->file);  // the closed pipe ends the capture
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
