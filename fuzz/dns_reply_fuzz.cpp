// DNS replies as a server might send them: every record decoded and formatted, and every name
// in the datagram decoded, with the reads checked against the datagram's end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dns/dns_exchange.h"
#include "dns/dns_format.h"
#include "dns/dns_message.h"

namespace {

constexpr int kCapacity = 50;

void CheckRecords(const DnsRecord* records, int count) {
  for (int i = 0; i < count && i < kCapacity; ++i) {
    const DnsRecord& r = records[i];
    // Names stay terminated within their buffers.
    if (std::memchr(r.name, 0, sizeof r.name) == nullptr) __builtin_trap();
    if (std::memchr(r.name2, 0, sizeof r.name2) == nullptr) __builtin_trap();
    if (r.nameLength > kDnsMaxNameText || r.name2Length > kDnsMaxNameText) __builtin_trap();
    if (r.section > kDnsAdditionalSection) __builtin_trap();
    (void)FormatDnsRecord(r);
  }
  (void)FormatDnsSections(records, count < kCapacity ? count : kCapacity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A longer datagram fails the receive and never reaches the decoder; rejected, it does not
  // enter the corpus either, and every input stays as cheap as a real reply.
  if (size > kDnsReceiveBuffer) return -1;
  // An exact-size copy, so the sanitizer sees any read past the datagram.
  const std::vector<uint8_t> reply(data, data + size);
  static std::vector<DnsRecord> records(kCapacity);  // each decode overwrites what it reports

  // The question as the reply states it, and the shortest one that could have been sent.
  const int afterName = SkipDnsName(reply.data(), reply.size(), kDnsHeaderSize);
  const size_t stated = afterName > 0 ? static_cast<size_t>(afterName) + 4 - kDnsHeaderSize : 0;
  for (size_t questionLength : {stated, size_t{5}}) {
    DnsReply result;
    if (!DecodeDnsReply(reply.data(), reply.size(), questionLength, records.data(), kCapacity,
                        &result)) {
      continue;
    }
    if (result.recordCount < 0 || result.responseCode > 15) __builtin_trap();
    CheckRecords(records.data(), result.recordCount);
  }

  // Names at offsets spread over the whole datagram (about 64 of them, every one in a short
  // datagram): any byte may be where a pointer leads.
  char name[kDnsNameBuffer];
  const size_t stride = size / 64 + 1;
  for (size_t offset = 0; offset < size; offset += stride) {
    const int length =
        DecodeDnsName(reply.data(), reply.size(), static_cast<uint16_t>(offset), name, sizeof name);
    if (length > static_cast<int>(kDnsMaxNameText) || name[kDnsMaxNameText] != 0) __builtin_trap();
  }
  return 0;
}
