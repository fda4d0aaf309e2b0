#include "wire/ping_records.h"

#include "wire/record_reader.h"
#include "wire/record_writer.h"

std::vector<uint8_t> EncodeEchoLoaded(bool loaded) {
  return RecordWriter().u8(loaded ? 1 : 0).take();
}

std::optional<bool> DecodeEchoLoaded(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  const uint8_t loaded = r.next8();
  if (!r.complete() || loaded > 1) return std::nullopt;
  return loaded == 1;
}

std::vector<uint8_t> EncodeEchoAsked(const EchoAsked& asked) {
  return RecordWriter().address(asked.destination).i32(asked.ttl).u32(asked.timeoutMs).take();
}

std::optional<EchoAsked> DecodeEchoAsked(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  EchoAsked asked;
  asked.destination = r.nextAddress();
  asked.ttl = r.nextI32();
  asked.timeoutMs = r.next32();
  if (!r.complete()) return std::nullopt;
  return asked;
}

std::vector<uint8_t> EncodeEchoAnswer(const EchoAnswer& answer) {
  RecordWriter w;
  w.u8(answer.answered == 1 ? 1 : 0);
  w.u32(answer.result.address).u32(answer.result.status).i32(answer.result.roundTripMs);
  w.address(answer.answerer);
  return w.take();
}

std::optional<EchoAnswer> DecodeEchoAnswer(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  EchoAnswer answer;
  const uint8_t answered = r.next8();
  answer.result.address = r.next32();
  answer.result.status = r.next32();
  answer.result.roundTripMs = r.nextI32();
  answer.answerer = r.nextAddress();
  if (!r.complete() || answered > 1) return std::nullopt;
  answer.answered = answered;
  return answer;
}
