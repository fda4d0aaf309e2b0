#include "wire/frame.h"

#include <cerrno>

#include "wire/record_reader.h"
#include "wire/record_writer.h"

void EncodeFrameHeader(const FrameHeader& header, uint8_t out[kFrameHeaderSize]) {
  RecordWriter w;
  w.u8(header.version).u8(header.type).u16(header.flags).u32(header.channel).u32(header.length);
  std::memcpy(out, w.bytes().data(), kFrameHeaderSize);
}

int DecodeFrameHeader(const uint8_t* data, FrameHeader* header) {
  RecordReader r(data, kFrameHeaderSize);
  header->version = r.next8();
  header->type = r.next8();
  header->flags = r.next16();
  header->channel = r.next32();
  header->length = r.next32();
  if (header->version != kFrameVersion) return EPROTO;
  if (header->length > kFramePayloadLimit) return EMSGSIZE;
  if (header->type < kFrameHello || header->type > kFrameError) return EINVAL;
  if ((header->flags & ~kFrameMore) != 0) return EINVAL;
  if (header->flags != 0 && header->type != kFrameData) return EINVAL;
  const bool linkFrame = header->type == kFrameHello || header->type == kFrameError;
  if (linkFrame != (header->channel == 0)) return EINVAL;
  return 0;
}

std::vector<uint8_t> EncodeFrame(uint8_t type, uint32_t channel, const void* payload, size_t length,
                                 uint16_t flags) {
  std::vector<uint8_t> frame(kFrameHeaderSize);
  EncodeFrameHeader({kFrameVersion, type, flags, channel, uint32_t(length)}, frame.data());
  const auto* p = static_cast<const uint8_t*>(payload);
  frame.insert(frame.end(), p, p + length);
  return frame;
}

std::vector<uint8_t> EncodeHello(const Hello& hello) {
  RecordWriter w;
  w.u16(hello.protocol).text(hello.program).u64(hello.abilities).text(hello.hostName);
  return w.take();
}

std::optional<Hello> DecodeHello(const uint8_t* data, size_t size) {
  RecordReader r(data, size);
  Hello hello;
  hello.protocol = r.next16();
  hello.program = r.nextText(kHelloTextLimit);
  hello.abilities = r.next64();
  hello.hostName = r.nextText(kHelloTextLimit);
  if (!r.complete()) return std::nullopt;
  return hello;
}

std::vector<uint8_t> EncodeOpen(const OpenRequest& open) {
  RecordWriter w;
  w.u16(open.service).u16(open.operation).raw(open.request.data(), open.request.size());
  return w.take();
}

std::optional<OpenRequest> DecodeOpen(const uint8_t* data, size_t size) {
  RecordReader r(data, size);
  OpenRequest open;
  open.service = r.next16();
  open.operation = r.next16();
  if (r.failed()) return std::nullopt;
  const size_t rest = r.remaining();
  const uint8_t* request = r.nextSpan(rest);
  if (request != nullptr) open.request.assign(request, request + rest);
  return open;
}

std::vector<uint8_t> EncodeFrameError(const FrameError& error) {
  RecordWriter w;
  w.u32(error.channel).i32(error.error).text(error.text);
  return w.take();
}

std::optional<FrameError> DecodeFrameError(const uint8_t* data, size_t size) {
  RecordReader r(data, size);
  FrameError error;
  error.channel = r.next32();
  error.error = r.nextI32();
  error.text = r.nextText(kHelloTextLimit);
  if (!r.complete()) return std::nullopt;
  return error;
}

std::vector<uint8_t> EncodeValue(uint32_t value) {
  return RecordWriter().u32(value).take();
}

std::optional<uint32_t> DecodeValue(const uint8_t* data, size_t size) {
  RecordReader r(data, size);
  const uint32_t value = r.next32();
  if (!r.complete()) return std::nullopt;
  return value;
}
