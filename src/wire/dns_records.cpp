#include "wire/dns_records.h"

#include <cstring>

#include "wire/record_reader.h"
#include "wire/record_writer.h"

namespace {

constexpr size_t kDnsTextLimit = 1024;

void PutServer(RecordWriter& w, const std::optional<DnsIpv6Server>& server) {
  w.u8(server ? 1 : 0);
  if (server) w.address(server->address).u32(server->scope);
}

std::optional<DnsIpv6Server> TakeServer(RecordReader& r) {
  if (!r.nextBool()) return std::nullopt;
  DnsIpv6Server server;
  server.address = r.nextAddress();
  server.scope = r.next32();
  if (!server.address.isIpv6()) r.fail();
  return server;
}

void PutRecord(RecordWriter& w, const DnsRecord& d) {
  w.u16(d.type).u8(d.section).u32(d.ttl);
  w.u16(d.nameLength).raw(d.name, d.nameLength);
  w.u16(d.name2Length).raw(d.name2, d.name2Length);
  w.u16(d.preference).u32(d.address).u32(d.refresh).u32(d.retry).u32(d.expire).u32(d.minimum);
  w.raw(d.address6, sizeof d.address6);
}

// The bytes of a name field, within its buffer and with its terminator.
void TakeName(RecordReader& r, char (&name)[kDnsNameBuffer], uint16_t* length) {
  *length = r.next16();
  if (*length > kDnsMaxNameText || !r.nextBytes(name, *length)) {
    r.fail();
    *length = 0;
  }
  name[*length] = '\0';
}

DnsRecord TakeRecord(RecordReader& r) {
  DnsRecord d{};
  d.type = r.next16();
  d.section = r.next8();
  d.ttl = r.next32();
  TakeName(r, d.name, &d.nameLength);
  TakeName(r, d.name2, &d.name2Length);
  d.preference = r.next16();
  d.address = r.next32();
  d.refresh = r.next32();
  d.retry = r.next32();
  d.expire = r.next32();
  d.minimum = r.next32();
  r.nextBytes(d.address6, sizeof d.address6);
  if (d.section > kDnsAdditionalSection) r.fail();
  return d;
}

// The smallest record on the stream: its fixed fields and two empty names.
constexpr size_t kSmallestRecord = 2 + 1 + 4 + 2 + 2 + 2 + 4 * 5 + 16;

}  // namespace

std::vector<uint8_t> EncodeDnsText(const std::string& text) {
  return RecordWriter().text(text).take();
}

std::optional<std::string> DecodeDnsText(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  std::string text = r.nextText(kDnsTextLimit);
  if (!r.complete()) return std::nullopt;
  return text;
}

std::vector<uint8_t> EncodeDnsIpv6Server(const std::optional<DnsIpv6Server>& server) {
  RecordWriter w;
  PutServer(w, server);
  return w.take();
}

std::optional<std::optional<DnsIpv6Server>> DecodeDnsIpv6Server(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  std::optional<DnsIpv6Server> server = TakeServer(r);
  if (!r.complete()) return std::nullopt;
  return server;
}

std::vector<uint8_t> EncodeDnsQuery(const DnsQuery& q) {
  RecordWriter w;
  w.u32(q.server);
  PutServer(w, q.serverIpv6);
  w.u16(q.queryId).u16(q.queryType).text(q.name).u8(q.recursionDesired ? 1 : 0);
  w.u32(q.timeoutMs).i32(q.recordCapacity);
  return w.take();
}

std::optional<DnsQuery> DecodeDnsQuery(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  DnsQuery q;
  q.server = r.next32();
  q.serverIpv6 = TakeServer(r);
  q.queryId = r.next16();
  q.queryType = r.next16();
  q.name = r.nextText(kDnsTextLimit);
  q.recursionDesired = r.nextBool();
  q.timeoutMs = r.next32();
  q.recordCapacity = r.nextI32();
  if (!r.complete() || q.recordCapacity < 0 || uint32_t(q.recordCapacity) > kDnsAnswerRecordLimit) {
    return std::nullopt;
  }
  return q;
}

std::vector<uint8_t> EncodeDnsAnswer(const DnsAnswer& a) {
  RecordWriter w;
  w.i32(a.result).u8(a.responseCode).i32(a.recordCount).u32(uint32_t(a.records.size()));
  for (const DnsRecord& d : a.records) PutRecord(w, d);
  return w.take();
}

std::optional<DnsAnswer> DecodeDnsAnswer(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  DnsAnswer a;
  a.result = r.nextI32();
  a.responseCode = r.next8();
  a.recordCount = r.nextI32();
  const uint32_t count = r.nextCount(kDnsAnswerRecordLimit, kSmallestRecord);
  a.records.reserve(count);
  for (uint32_t i = 0; i < count && !r.failed(); ++i) a.records.push_back(TakeRecord(r));
  if (!r.complete() || a.recordCount < 0) return std::nullopt;
  return a;
}
