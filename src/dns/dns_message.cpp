#include "dns/dns_message.h"

#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"

namespace {

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value & 0xFF));
}

bool IsPointer(uint8_t b) {
  return (b & 0xC0) != 0;
}

// A decoded name as it is built: at most 255 characters, on the stack. Only the first `size`
// characters are set.
struct NameText {
  char text[kDnsMaxNameText];
  size_t size = 0;

  // Appends as much of `piece` as keeps the name within 255 characters.
  void append(const uint8_t* piece, size_t count) {
    const size_t n = std::min(count, kDnsMaxNameText - size);
    std::memcpy(text + size, piece, n);
    size += n;
  }
};

// The name at `offset`: its labels joined by dots, cut at 255 characters, without a trailing
// dot. A pointer carries the walk on at its target, as if the name found there were appended,
// and ends the name there. The walk is one loop with two bounds: at most kDnsMaxPointerHops
// pointers, and no more steps than the message has bytes (a name that ends visits no byte
// twice, so more steps can only be a loop). A loop thus costs at most the message's length.
bool DecodeNameAt(const uint8_t* message, size_t length, size_t offset, NameText& out) {
  out.size = 0;
  size_t position = offset;
  int hops = 0;
  for (size_t steps = 0;; ++steps) {
    if (position >= length || steps >= length) return false;
    const uint8_t b = message[position];
    if (b == 0) break;
    if (IsPointer(b)) {
      if (position + 1 >= length || hops++ >= kDnsMaxPointerHops) return false;
      position = ((size_t{b} << 8) | message[position + 1]) & 0x3FFF;
      continue;
    }
    if (length - position - 1 < b) return false;
    if (out.size < kDnsMaxNameText) {  // past the cut only the walk goes on
      out.append(message + position + 1, b);
      out.append(reinterpret_cast<const uint8_t*>("."), 1);
    }
    position += 1 + size_t{b};
  }
  if (out.size > 0 && out.text[out.size - 1] == '.') out.size--;
  return true;
}

// The name at `offset` into a cleared name buffer; -1 when it cannot be decoded.
int DecodeNameInto(const uint8_t* message, size_t length, size_t offset, char* out) {
  NameText name;
  const bool ok = DecodeNameAt(message, length, offset, name);
  std::memset(out, 0, kDnsNameBuffer);
  if (!ok) return -1;
  std::memcpy(out, name.text, name.size);  // at most 255 characters
  return static_cast<int>(name.size);
}

// RDATA of one record: reads stay inside it, except that its names may point anywhere in the
// message, as compression allows.
class RdataReader {
 public:
  RdataReader(const uint8_t* message, size_t length, size_t start, size_t end)
      : message_(message), length_(length), wire_(message, end, start), end_(end) {}

  ByteReader& wire() { return wire_; }

  // The name here into `out` and its length (left empty when its encoding does not fit in
  // RDATA or it cannot be decoded); the reader moves past its encoding.
  void name(char* out, uint16_t* outLength) {
    const int next = SkipDnsName(message_, end_, wire_.position());
    if (wire_.failed() || next < 0) {
      wire_.fail();  // nothing after a broken name can be found
      return;
    }
    const int decoded = DecodeNameInto(message_, length_, wire_.position(), out);
    *outLength = static_cast<uint16_t>(std::max(decoded, 0));
    wire_.skip(static_cast<size_t>(next) - wire_.position());
  }

  // One character-string (a length byte and that many characters) into `out` and its length.
  void characterString(char* out, uint16_t* outLength) {
    const uint8_t count = wire_.next8();
    if (const uint8_t* text = wire_.nextSpan(count)) {
      *outLength = std::min<uint16_t>(count, kDnsMaxNameText);
      std::memcpy(out, text, *outLength);
    }
  }

 private:
  const uint8_t* message_;
  size_t length_;
  ByteReader wire_;
  size_t end_;
};

void DecodeRdata(RdataReader& rdata, DnsRecord& record) {
  ByteReader& wire = rdata.wire();
  switch (record.type) {
    case kDnsTypeA:
      // The bytes as received: network order, ready for dotted-decimal conversion.
      if (const uint8_t* bytes = wire.nextSpan(4)) std::memcpy(&record.address, bytes, 4);
      break;
    case kDnsTypeNs:
    case kDnsTypeCname:
    case kDnsTypePtr:
      rdata.name(record.name, &record.nameLength);
      break;
    case kDnsTypeSoa:
      rdata.name(record.name, &record.nameLength);
      rdata.name(record.name2, &record.name2Length);
      if (wire.hasNext(20)) {
        record.serial = wire.next32();
        record.refresh = wire.next32();
        record.retry = wire.next32();
        record.expire = wire.next32();
        record.minimum = wire.next32();
      }
      break;
    case kDnsTypeHinfo:
      rdata.characterString(record.name, &record.nameLength);
      rdata.characterString(record.name2, &record.name2Length);
      break;
    case kDnsTypeMx:
      if (wire.hasNext(2)) {
        record.preference = wire.next16();
        rdata.name(record.name, &record.nameLength);
      }
      break;
    case kDnsTypeAaaa:
      if (const uint8_t* bytes = wire.nextSpan(16)) std::memcpy(record.address6, bytes, 16);
      break;
    default:
      break;  // kept with its type and TTL, stepped over by RDLENGTH
  }
}

}  // namespace

bool IsSupportedDnsType(uint16_t type) {
  switch (type) {
    case kDnsTypeA:
    case kDnsTypeNs:
    case kDnsTypeCname:
    case kDnsTypeSoa:
    case kDnsTypePtr:
    case kDnsTypeHinfo:
    case kDnsTypeMx:
    case kDnsTypeAaaa:
      return true;
    default:
      return false;
  }
}

std::vector<uint8_t> BuildDnsQuery(uint16_t queryId, uint16_t queryType, const char* name,
                                   bool recursionDesired) {
  if (name == nullptr || !IsSupportedDnsType(queryType)) return {};
  const size_t nameLength = strnlen(name, kDnsMaxNameText + 1);
  if (nameLength > kDnsMaxNameText) return {};

  std::vector<uint8_t> message;
  message.reserve(kDnsHeaderSize + nameLength + 6);
  PutU16(message, queryId);
  PutU16(message, recursionDesired ? 0x0100 : 0x0000);
  PutU16(message, 1);  // QDCOUNT
  PutU16(message, 0);  // ANCOUNT
  PutU16(message, 0);  // NSCOUNT
  PutU16(message, 0);  // ARCOUNT

  // Labels as typed: empty ones (leading, trailing or doubled dots) are dropped, nothing else
  // is checked or changed.
  size_t start = 0;
  while (start <= nameLength) {
    const char* dot = static_cast<const char*>(std::memchr(name + start, '.', nameLength - start));
    const size_t end = dot ? static_cast<size_t>(dot - name) : nameLength;
    if (end > start) {
      message.push_back(static_cast<uint8_t>(end - start));
      message.insert(message.end(), name + start, name + end);
    }
    start = end + 1;
  }
  message.push_back(0);
  PutU16(message, queryType);
  PutU16(message, 1);  // QCLASS IN
  return message;
}

int DecodeDnsName(const uint8_t* message, size_t length, uint16_t offset, char* output,
                  uint16_t outputSize) {
  if (output != nullptr) std::memset(output, 0, outputSize);
  if (message == nullptr) return -1;
  NameText name;
  if (!DecodeNameAt(message, length, offset, name)) return -1;
  if (output != nullptr && outputSize > 0) {
    std::memcpy(output, name.text, std::min<size_t>(name.size, outputSize - 1));
  }
  return static_cast<int>(name.size);
}

int SkipDnsName(const uint8_t* message, size_t length, size_t position) {
  // Each step moves forward by at least one byte, so the loop ends within the message.
  while (position < length) {
    const uint8_t b = message[position];
    if (b == 0) return static_cast<int>(position + 1);
    if (IsPointer(b)) {
      return position + 2 <= length ? static_cast<int>(position + 2) : -1;
    }
    position += 1 + size_t{b};
  }
  return -1;
}

int DecodeResourceRecord(const uint8_t* message, size_t length, size_t position,
                         DnsRecord* record) {
  if (message == nullptr || record == nullptr) return -1;
  *record = DnsRecord{};
  const int owner = SkipDnsName(message, length, position);
  if (owner < 0) return -1;
  ByteReader fixed(message, length, static_cast<size_t>(owner));
  record->type = fixed.next16();
  fixed.next16();  // CLASS
  record->ttl = fixed.next32();
  const uint16_t rdlength = fixed.next16();
  if (!fixed.hasNext(rdlength)) return -1;
  const size_t rdataStart = fixed.position();
  const size_t next = rdataStart + rdlength;

  RdataReader rdata(message, length, rdataStart, next);
  DecodeRdata(rdata, *record);
  return static_cast<int>(next);
}

bool DecodeDnsReply(const uint8_t* reply, size_t length, size_t questionLength, DnsRecord* records,
                    int capacity, DnsReply* result) {
  if (reply == nullptr || result == nullptr) return false;
  ByteReader header(reply, length, 0);
  header.next16();  // ID: any reply is taken, whatever its id
  const uint16_t flags = header.next16();
  const uint16_t qdcount = header.next16();
  const uint16_t ancount = header.next16();
  const uint16_t nscount = header.next16();
  const uint16_t arcount = header.next16();
  if (header.failed()) return false;

  *result = DnsReply{};
  result->responseCode = static_cast<uint8_t>(flags & 0x000F);
  const int total = int{ancount} + int{nscount} + int{arcount};

  // One question, as long as the one that was sent, whatever QDCOUNT says.
  size_t position = kDnsHeaderSize;
  if (qdcount != 0) {
    if (length - position < questionLength) return true;
    position += questionLength;
  }

  DnsRecord beyond;  // records past the capacity are decoded here and dropped
  for (int i = 0; i < total; ++i) {
    DnsRecord& record = records != nullptr && i < capacity ? records[i] : beyond;
    const int next = DecodeResourceRecord(reply, length, position, &record);
    if (next < 0) return true;  // the rest is not in the datagram
    record.section = i < ancount             ? kDnsAnswerSection
                     : i < ancount + nscount ? kDnsAuthoritySection
                                             : kDnsAdditionalSection;
    result->recordCount = i + 1;
    position = static_cast<size_t>(next);
  }
  return true;
}
