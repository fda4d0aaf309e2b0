#include "wire/whois_records.h"

#include "wire/record_reader.h"
#include "wire/record_writer.h"

std::vector<uint8_t> EncodeWhoisAsked(const WhoisAsked& asked) {
  return RecordWriter().text(asked.server).text(asked.query).take();
}

std::optional<WhoisAsked> DecodeWhoisAsked(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  WhoisAsked asked;
  asked.server = r.nextText(kWhoisRecordTextLimit);
  asked.query = r.nextText(kWhoisRecordTextLimit);
  if (!r.complete()) return std::nullopt;
  return asked;
}

std::vector<uint8_t> EncodeWhoisExchangeResult(const WhoisExchangeResult& result) {
  return RecordWriter().u8(uint8_t(result.status)).text(result.answer).take();
}

std::optional<WhoisExchangeResult> DecodeWhoisExchangeResult(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  WhoisExchangeResult result;
  const uint8_t status = r.next8();
  result.answer = r.nextText(kWhoisAnswerLimit);
  if (!r.complete() || status > uint8_t(WhoisExchangeStatus::Cancelled)) return std::nullopt;
  result.status = WhoisExchangeStatus(status);
  return result;
}

std::vector<uint8_t> EncodeRdapReply(const RdapReply& reply) {
  RecordWriter w;
  w.u8(uint8_t(reply.transport)).text(reply.url);
  w.u64(uint64_t(int64_t(reply.httpStatus))).u64(uint64_t(int64_t(reply.retryAfter)));
  w.text(reply.body);
  return w.take();
}

std::optional<RdapReply> DecodeRdapReply(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  RdapReply reply;
  const uint8_t transport = r.next8();
  reply.url = r.nextText(kWhoisRecordTextLimit);
  reply.httpStatus = long(int64_t(r.next64()));
  reply.retryAfter = (long long)(int64_t(r.next64()));
  reply.body = r.nextText(kRdapAnswerLimit);
  if (!r.complete() || transport > uint8_t(RdapTransport::Cancelled)) return std::nullopt;
  reply.transport = RdapTransport(transport);
  return reply;
}

std::vector<uint8_t> EncodeWhoisText(const std::string& text) {
  return RecordWriter().text(text).take();
}

std::optional<std::string> DecodeWhoisText(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  std::string text = r.nextText(kWhoisRecordTextLimit);
  if (!r.complete()) return std::nullopt;
  return text;
}

std::vector<uint8_t> EncodeWhoisMaybeText(const std::optional<std::string>& text) {
  RecordWriter w;
  w.u8(text ? 1 : 0);
  if (text) w.text(*text);
  return w.take();
}

std::optional<std::optional<std::string>> DecodeWhoisMaybeText(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  std::optional<std::string> text;
  if (r.nextBool()) text = r.nextText(kWhoisRecordTextLimit);
  if (!r.complete()) return std::nullopt;
  return text;
}
