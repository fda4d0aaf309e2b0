#include "wire/netstat_records.h"

#include <algorithm>
#include <cstring>

#include "wire/record_reader.h"
#include "wire/record_writer.h"

namespace {

// The fixed fields of a record: protocol, family, state, process id, two IPv4 addresses, two
// ports, the name's length.
constexpr size_t kSmallestRecord = 1 + 1 + 1 + 4 + 4 + 4 + 2 + 2 + 1;

void PutRecord(RecordWriter& w, const EndpointRecord& r) {
  w.u8(uint8_t(r.protocol)).u8(r.ipv6 ? 1 : 0).u8(uint8_t(r.state)).u32(r.processId);
  if (r.ipv6) {
    w.raw(r.localAddress6, sizeof r.localAddress6).raw(r.remoteAddress6, sizeof r.remoteAddress6);
  } else {
    w.u32(r.localAddress).u32(r.remoteAddress);
  }
  w.u16(uint16_t(r.localPort)).u16(uint16_t(r.remotePort));
  const size_t length = strnlen(r.processName, kProcessNameSize - 1);
  w.u8(uint8_t(length)).raw(r.processName, length);
}

// A record as the local tables make it: a known protocol and state, ports of 16 bits, a name of
// at most 127 bytes without control characters (so none can break a line of the copied rows).
EndpointRecord TakeRecord(RecordReader& r) {
  EndpointRecord e{};
  e.protocol = r.next8();
  const uint8_t family = r.next8();
  e.state = r.next8();
  e.processId = r.next32();
  e.ipv6 = family == 1;
  if (e.ipv6) {
    r.nextBytes(e.localAddress6, sizeof e.localAddress6);
    r.nextBytes(e.remoteAddress6, sizeof e.remoteAddress6);
  } else {
    e.localAddress = r.next32();
    e.remoteAddress = r.next32();
  }
  e.localPort = r.next16();
  e.remotePort = r.next16();
  const uint8_t length = r.next8();
  if (length >= kProcessNameSize || !r.nextBytes(e.processName, length)) {
    r.fail();
    return e;
  }
  e.processName[length] = '\0';
  for (uint8_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(e.processName[i]);
    if (c < 0x20 || c == 0x7F) r.fail();
  }
  if (e.protocol > kEndpointUdp || family > 1 || e.state > kTcpDeleteTcb) r.fail();
  return e;
}

// The longest user or group name either side takes.
constexpr size_t kNameLimit = 1024;

bool IsCapacity(uint32_t capacity) {
  return capacity > 0 && capacity <= kNetstatTextLimit;
}

}  // namespace

std::vector<uint8_t> EncodeEndpointBatch(const std::vector<EndpointRecord>& records, size_t begin,
                                         size_t end) {
  RecordWriter w;
  w.u32(uint32_t(end - begin));
  for (size_t i = begin; i < end; ++i) PutRecord(w, records[i]);
  return w.take();
}

bool DecodeEndpointBatch(const std::vector<uint8_t>& bytes, std::vector<EndpointRecord>& records) {
  RecordReader r(bytes);
  const uint32_t count = r.nextCount(kEndpointBatchRecords, kSmallestRecord);
  if (r.failed() ||
      count > kEndpointSnapshotLimit - std::min<size_t>(records.size(), kEndpointSnapshotLimit)) {
    return false;
  }
  const size_t before = records.size();
  records.reserve(before + count);
  for (uint32_t i = 0; i < count && !r.failed(); ++i) records.push_back(TakeRecord(r));
  if (!r.complete()) {
    records.resize(before);
    return false;
  }
  return true;
}

std::vector<uint8_t> EncodeEndpointRecord(const EndpointRecord& record) {
  RecordWriter w;
  PutRecord(w, record);
  return w.take();
}

std::optional<EndpointRecord> DecodeEndpointRecord(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  const EndpointRecord record = TakeRecord(r);
  if (!r.complete()) return std::nullopt;
  return record;
}

std::vector<uint8_t> EncodeNetstatNumber(uint64_t value) {
  return RecordWriter().u64(value).take();
}

std::optional<uint64_t> DecodeNetstatNumber(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  const uint64_t value = r.next64();
  if (!r.complete()) return std::nullopt;
  return value;
}

std::vector<uint8_t> EncodeTerminateResult(TerminateResult result) {
  return RecordWriter().u8(uint8_t(result)).take();
}

std::optional<TerminateResult> DecodeTerminateResult(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  const uint8_t value = r.next8();
  if (!r.complete() || value > uint8_t(TerminateResult::Failed)) return std::nullopt;
  return TerminateResult(value);
}

std::vector<uint8_t> EncodeNetstatText(const std::optional<std::string>& text) {
  RecordWriter w;
  w.u8(text ? 1 : 0);
  if (text) w.text(*text);
  return w.take();
}

std::optional<std::optional<std::string>> DecodeNetstatText(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  const uint8_t present = r.next8();
  std::optional<std::string> text;
  if (present == 1) text = r.nextText(kNetstatTextLimit);
  if (!r.complete() || present > 1) return std::nullopt;
  return text;
}

std::vector<uint8_t> EncodeExecutableFile(const std::optional<ExecutableFile>& file) {
  RecordWriter w;
  w.u8(file ? 1 : 0);
  if (!file) return w.take();
  w.text(file->path).u64(file->size).text(file->owner).text(file->group).u32(file->mode);
  w.u64(uint64_t(file->modifiedMs)).u8(file->contentRead ? 1 : 0).blob(file->head);
  return w.take();
}

std::optional<std::optional<ExecutableFile>> DecodeExecutableFile(
    const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  const uint8_t present = r.next8();
  if (present == 0 && r.complete()) return std::optional<ExecutableFile>();
  ExecutableFile file;
  file.path = r.nextText(kNetstatTextLimit);
  file.size = r.next64();
  file.owner = r.nextText(kNameLimit);
  file.group = r.nextText(kNameLimit);
  file.mode = r.next32();
  file.modifiedMs = int64_t(r.next64());
  const uint8_t contentRead = r.next8();
  file.contentRead = contentRead == 1;
  file.head = r.nextBlob(kExecutableHeadSize);
  // Nothing read has no bytes; a path is a whole path.
  if (!r.complete() || present != 1 || contentRead > 1 || file.mode > 07777 ||
      (!file.contentRead && !file.head.empty()) || file.path.empty() ||
      file.path.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  return std::optional<ExecutableFile>(std::move(file));
}

std::vector<uint8_t> EncodeProcessTextAsked(const ProcessTextAsked& a) {
  return RecordWriter().u32(a.processId).u8(a.imagePath ? 1 : 0).u32(a.capacity).take();
}

std::optional<ProcessTextAsked> DecodeProcessTextAsked(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  ProcessTextAsked a;
  a.processId = r.next32();
  const uint8_t imagePath = r.next8();
  a.imagePath = imagePath == 1;
  a.capacity = r.next32();
  if (!r.complete() || imagePath > 1 || !IsCapacity(a.capacity)) return std::nullopt;
  return a;
}

std::vector<uint8_t> EncodeProcessText(const ProcessText& t) {
  return RecordWriter().i32(t.result).text(t.text).take();
}

std::optional<ProcessText> DecodeProcessText(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  ProcessText t;
  t.result = r.nextI32();
  t.text = r.nextText(kNetstatTextLimit);
  // A text that could not be read has none; a NUL would end it early.
  if (!r.complete() || t.result < -1 || (t.result < 0 && !t.text.empty()) ||
      t.text.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  return t;
}

std::vector<uint8_t> EncodeServiceNameAsked(const ServiceNameAsked& a) {
  return RecordWriter().u16(a.port).u8(a.udp ? 1 : 0).take();
}

std::optional<ServiceNameAsked> DecodeServiceNameAsked(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  ServiceNameAsked a;
  a.port = r.next16();
  const uint8_t udp = r.next8();
  a.udp = udp == 1;
  if (!r.complete() || udp > 1) return std::nullopt;
  return a;
}
