#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// DNS messages as this program writes and reads them (RFC 1035): one question out, every
// resource record of the reply decoded back. All wire fields are big-endian.

inline constexpr uint16_t kDnsTypeA = 1;
inline constexpr uint16_t kDnsTypeNs = 2;
inline constexpr uint16_t kDnsTypeCname = 5;
inline constexpr uint16_t kDnsTypeSoa = 6;
inline constexpr uint16_t kDnsTypePtr = 12;
inline constexpr uint16_t kDnsTypeHinfo = 13;
inline constexpr uint16_t kDnsTypeMx = 15;
inline constexpr uint16_t kDnsTypeAaaa = 28;

inline constexpr size_t kDnsHeaderSize = 12;
// Longest name text, and the buffer that holds it with its terminator.
inline constexpr size_t kDnsMaxNameText = 255;
inline constexpr size_t kDnsNameBuffer = 256;
// Compression pointers followed in one name. A name has at most 127 labels, so a longer chain
// can only be a loop.
inline constexpr int kDnsMaxPointerHops = 128;

// The record sections, in reply order.
inline constexpr uint8_t kDnsAnswerSection = 0;
inline constexpr uint8_t kDnsAuthoritySection = 1;
inline constexpr uint8_t kDnsAdditionalSection = 2;

// One decoded resource record. Fields a type does not use stay 0 or empty.
struct DnsRecord {
  uint16_t type;    // TYPE, host order
  uint8_t section;  // kDnsAnswerSection, kDnsAuthoritySection or kDnsAdditionalSection
  uint32_t ttl;     // TTL, host order; kept, never shown
  // NS, CNAME, PTR: the target; MX: the exchange; SOA: MNAME; HINFO: the CPU string. The bytes
  // as received, which may include zero bytes: nameLength counts them (at most 255).
  char name[kDnsNameBuffer];
  // SOA: RNAME; HINFO: the OS string; name2Length bytes of it.
  char name2[kDnsNameBuffer];
  uint16_t nameLength;
  uint16_t name2Length;
  uint16_t preference;  // MX PREFERENCE, host order
  union {
    uint32_t address;  // A: the four address bytes as received (network order)
    uint32_t serial;   // SOA SERIAL, host order
  };
  uint32_t refresh;  // SOA numbers, host order
  uint32_t retry;
  uint32_t expire;
  uint32_t minimum;
  uint8_t address6[16];  // AAAA: the sixteen address bytes as received (network order)
};

// Whether a query of this type can be built: A, NS, CNAME, SOA, PTR, HINFO, MX or AAAA.
bool IsSupportedDnsType(uint16_t type);

// The query message: header (id, RD when asked for, QDCOUNT 1), the name as labels (empty labels
// dropped, characters unchanged), QTYPE and QCLASS IN. Empty for a missing name, a name longer
// than 255 characters or an unsupported type.
std::vector<uint8_t> BuildDnsQuery(uint16_t queryId, uint16_t queryType, const char* name,
                                   bool recursionDesired);

// Decodes the name at `offset` of the message: labels joined by ".", no trailing dot, the root
// name as the empty text, the whole cut at 255 characters whether read directly or through
// pointers. When `output` is given, all its `outputSize` bytes are cleared and the text copied
// in, cut to outputSize - 1 characters. Returns the text's length, or -1 when there is no
// message, a pointer chain is longer than kDnsMaxPointerHops or loops, or the name runs past the
// end of the message (the output is then left empty).
int DecodeDnsName(const uint8_t* message, size_t length, uint16_t offset, char* output,
                  uint16_t outputSize);

// The position just after the encoded name at `position`: labels are stepped over up to the
// zero byte or a 2-byte compression pointer. -1 when the name runs past the end of the message.
int SkipDnsName(const uint8_t* message, size_t length, size_t position);

// Decodes the resource record at `position` into `record` (cleared first, so its section is 0
// until the caller marks it) and returns the position of the next record: the start of RDATA plus
// RDLENGTH. Returns -1, leaving the record unusable, when the owner name, the fixed fields or RDATA
// run past the end of the message. Fields of RDATA that do not fit in RDLENGTH stay 0 or empty;
// names in RDATA may point anywhere in the message.
int DecodeResourceRecord(const uint8_t* message, size_t length, size_t position, DnsRecord* record);

// What a reply says, as the exchange hands it on.
struct DnsReply {
  uint8_t responseCode = 0;  // RCODE, 0 to 15
  int recordCount = 0;       // records announced, or those read in full when it fell short
};

// Decodes a received reply: the header's RCODE and counts, the one question skipped as being
// `questionLength` bytes long (the question that was sent) when QDCOUNT is not 0, then every
// record marked by section; the first `capacity` records go into `records` (which may be null).
// Decoding stops at the first record that does not fit in the reply; recordCount then counts
// only the records read in full, so no caller ever sees a record that was not received.
// Returns false for a reply shorter than the header.
bool DecodeDnsReply(const uint8_t* reply, size_t length, size_t questionLength, DnsRecord* records,
                    int capacity, DnsReply* result);
