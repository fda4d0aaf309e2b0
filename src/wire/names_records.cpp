#include "wire/names_records.h"

#include "wire/record_reader.h"
#include "wire/record_writer.h"

std::vector<uint8_t> EncodeResolveHostAsked(const ResolveHostAsked& asked) {
  return RecordWriter().text(asked.name).u32(asked.capacity).take();
}

std::optional<ResolveHostAsked> DecodeResolveHostAsked(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  ResolveHostAsked asked;
  asked.name = r.nextText(kNameTextLimit);
  asked.capacity = r.next32();
  if (!r.complete() || asked.capacity > kNameTextLimit) return std::nullopt;
  return asked;
}

std::vector<uint8_t> EncodeResolveHostFound(const ResolveHostFound& found) {
  return RecordWriter().u8(found.found ? 1 : 0).text(found.text).take();
}

std::optional<ResolveHostFound> DecodeResolveHostFound(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  ResolveHostFound found;
  found.found = r.nextBool();
  found.text = r.nextText(kNameTextLimit);
  if (!r.complete()) return std::nullopt;
  return found;
}
