#include "wire/capture_records.h"

#include <algorithm>
#include <utility>

#include "wire/record_reader.h"
#include "wire/record_writer.h"

namespace {

// A frame in a frames message: its time, wire and captured lengths, then the bytes captured.
constexpr size_t kFrameHeadBytes = 8 + 4 + 4 + 4;

RecordWriter& WriteFilter(RecordWriter& w, const CaptureFilter& f) {
  w.i32(f.includeTcp).i32(f.includeUdp).i32(f.portMode);
  for (uint16_t port : f.ports) w.u16(port);
  w.i32(f.addressMode);
  for (const IpAddress& address : f.addresses) w.address(address);
  return w;
}

CaptureFilter ReadFilter(RecordReader& r) {
  CaptureFilter f;
  f.includeTcp = r.nextI32();
  f.includeUdp = r.nextI32();
  f.portMode = r.nextI32();
  for (uint16_t& port : f.ports) port = r.next16();
  f.addressMode = r.nextI32();
  for (IpAddress& address : f.addresses) address = r.nextAddress();
  return f;
}

}  // namespace

std::vector<uint8_t> EncodeCaptureAddresses(const std::vector<IpAddress>& addresses) {
  RecordWriter w;
  const size_t count = std::min<size_t>(addresses.size(), kCaptureAddressLimit);
  w.u32(uint32_t(count));
  for (size_t i = 0; i < count; ++i) w.address(addresses[i]);
  return w.take();
}

std::optional<std::vector<IpAddress>> DecodeCaptureAddresses(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  const uint32_t count = r.nextCount(kCaptureAddressLimit, 17);
  std::vector<IpAddress> addresses;
  addresses.reserve(count);
  for (uint32_t i = 0; i < count && !r.failed(); ++i) addresses.push_back(r.nextAddress());
  if (!r.complete()) return std::nullopt;
  return addresses;
}

std::vector<uint8_t> EncodeCaptureAsked(const CaptureAsked& asked) {
  RecordWriter w;
  w.address(asked.address);
  return WriteFilter(w, asked.filter).take();
}

std::optional<CaptureAsked> DecodeCaptureAsked(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  CaptureAsked asked;
  asked.address = r.nextAddress();
  asked.filter = ReadFilter(r);
  if (!r.complete()) return std::nullopt;
  return asked;
}

uint8_t CaptureMessageKind(const std::vector<uint8_t>& bytes) {
  return bytes.empty() ? 0 : bytes[0];
}

std::vector<uint8_t> EncodeCaptureOpened(const CaptureOpenedRecord& opened) {
  return RecordWriter().u8(kCaptureOpened).i32(opened.linkType).i32(opened.snapLength).take();
}

std::optional<CaptureOpenedRecord> DecodeCaptureOpened(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  CaptureOpenedRecord opened;
  if (r.next8() != kCaptureOpened) return std::nullopt;
  opened.linkType = r.nextI32();
  opened.snapLength = r.nextI32();
  if (!r.complete() || opened.snapLength < 0) return std::nullopt;
  return opened;
}

void AppendCaptureFrame(std::vector<uint8_t>& message, const CaptureFrame& frame) {
  RecordWriter w;
  if (message.empty()) w.u8(kCaptureFrames);
  w.u64(uint64_t(frame.seconds)).i32(frame.microseconds).u32(frame.wireLength);
  w.u32(frame.capturedLength).raw(frame.bytes, frame.capturedLength);
  const std::vector<uint8_t>& head = w.bytes();
  message.insert(message.end(), head.begin(), head.end());
}

bool DecodeCaptureFrames(const std::vector<uint8_t>& bytes, CaptureBatch& batch, size_t limit) {
  RecordReader r(bytes);
  if (r.next8() != kCaptureFrames || r.atEnd()) return false;
  std::vector<std::pair<CaptureFrame, const uint8_t*>> taken;
  while (!r.atEnd()) {
    if (batch.frames.size() + taken.size() >= limit || !r.hasNext(kFrameHeadBytes)) return false;
    CaptureFrame frame;
    frame.seconds = int64_t(r.next64());
    frame.microseconds = r.nextI32();
    frame.wireLength = r.next32();
    frame.capturedLength = r.next32();
    if (frame.capturedLength > kCaptureFrameLimit || frame.microseconds < 0 ||
        frame.microseconds >= 1000000) {
      return false;
    }
    const uint8_t* at = r.nextSpan(frame.capturedLength);
    if (at == nullptr) return false;
    taken.emplace_back(frame, at);
  }
  for (auto& [frame, at] : taken) {
    batch.bytes.insert(batch.bytes.end(), at, at + frame.capturedLength);
    batch.frames.push_back(frame);
  }
  // The batch's frames lie in its bytes one after another: pointed at again, as the bytes may
  // have moved while they grew.
  size_t offset = 0;
  for (CaptureFrame& frame : batch.frames) {
    frame.bytes = batch.bytes.data() + offset;
    offset += frame.capturedLength;
  }
  return true;
}

std::vector<uint8_t> EncodeCaptureEnded(const CaptureEnd& end) {
  return RecordWriter()
      .u8(kCaptureEnded)
      .u64(end.counts.received)
      .u64(end.counts.dropped)
      .i32(end.error)
      .take();
}

std::optional<CaptureEnd> DecodeCaptureEnded(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  CaptureEnd end;
  if (r.next8() != kCaptureEnded) return std::nullopt;
  end.counts.received = r.next64();
  end.counts.dropped = r.next64();
  end.error = r.nextI32();
  if (!r.complete()) return std::nullopt;
  return end;
}

std::vector<uint8_t> EncodeCaptureStop() {
  return {kCaptureStop};
}
