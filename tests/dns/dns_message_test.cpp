#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dns/dns_format.h"
#include "dns/dns_message.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes U16(uint16_t v) {
  return {uint8_t(v >> 8), uint8_t(v)};
}
Bytes U32(uint32_t v) {
  return U16(uint16_t(v >> 16)) + U16(uint16_t(v));
}

// A name in wire form: labels and the zero byte.
Bytes Name(const std::string& dotted) {
  Bytes out;
  size_t start = 0;
  while (start <= dotted.size()) {
    size_t end = dotted.find('.', start);
    if (end == std::string::npos) end = dotted.size();
    if (end > start) {
      out.push_back(uint8_t(end - start));
      out.insert(out.end(), dotted.begin() + long(start), dotted.begin() + long(end));
    }
    start = end + 1;
  }
  out.push_back(0);
  return out;
}

Bytes Pointer(uint16_t offset) {
  return U16(uint16_t(0xC000 | offset));
}

Bytes Header(uint16_t qd, uint16_t an, uint16_t ns, uint16_t ar, uint8_t rcode = 0,
             uint16_t id = 1234) {
  return U16(id) + U16(uint16_t(0x8180 | rcode)) + U16(qd) + U16(an) + U16(ns) + U16(ar);
}

Bytes Question(const std::string& name, uint16_t type = kDnsTypeA) {
  return Name(name) + U16(type) + U16(1);
}

Bytes Record(const Bytes& owner, uint16_t type, const Bytes& rdata, uint32_t ttl = 3600) {
  return owner + U16(type) + U16(1) + U32(ttl) + U16(uint16_t(rdata.size())) + rdata;
}

constexpr uint16_t kQuestionName = 12;  // where the question's name starts
const Bytes kAt = Pointer(kQuestionName);

std::string NameAt(const Bytes& message, uint16_t offset, uint16_t size = kDnsNameBuffer) {
  std::vector<char> out(size, 'x');
  const int length = DecodeDnsName(message.data(), message.size(), offset, out.data(), size);
  if (length < 0) return "<" + std::string(out.data()) + ":failed>";
  return out.data();
}

DnsRecord RecordAt(const Bytes& message, size_t position, int* next = nullptr) {
  DnsRecord record;
  std::memset(&record, 0x5A, sizeof record);
  const int n = DecodeResourceRecord(message.data(), message.size(), position, &record);
  if (next) *next = n;
  return record;
}

struct Decoded {
  bool ok;
  DnsReply reply;
  std::vector<DnsRecord> records;
};

Decoded DecodeReply(const Bytes& reply, size_t questionLength, int capacity = 50) {
  Decoded d{};
  d.records.resize(size_t(capacity));
  d.ok = DecodeDnsReply(reply.data(), reply.size(), questionLength, d.records.data(), capacity,
                        &d.reply);
  return d;
}

}  // namespace

// The query message.

TEST(BuildDnsQuery, WritesHeaderLabelsTypeAndClassByteForByte) {
  const Bytes q = BuildDnsQuery(1234, kDnsTypeA, "www.example.com", true);
  const Bytes expected =
      U16(0x04D2) + U16(0x0100) + U16(1) + U16(0) + U16(0) + U16(0) +
      Bytes{3, 'w', 'w', 'w', 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 3, 'c', 'o', 'm', 0} + U16(1) +
      U16(1);
  EXPECT_EQ(q, expected);
  EXPECT_EQ(q.size(), 33u);

  const Bytes plain = BuildDnsQuery(1234, kDnsTypeA, "www.example.com", false);
  EXPECT_EQ(plain[2], 0x00);
  EXPECT_EQ(plain[3], 0x00);
  EXPECT_EQ(Bytes(plain.begin() + 4, plain.end()), Bytes(q.begin() + 4, q.end()));
}

TEST(BuildDnsQuery, DropsEmptyLabelsAndKeepsCharactersAsTyped) {
  const Bytes plain = BuildDnsQuery(7, kDnsTypeMx, "www.example.com", true);
  for (const char* same :
       {"www.example.com.", "www..example.com", ".www.example.com", "..www...example.com.."}) {
    EXPECT_EQ(BuildDnsQuery(7, kDnsTypeMx, same, true), plain) << same;
  }
  // The empty name and a name of dots are the root: one zero byte, then type and class.
  const Bytes root = U16(7) + U16(0x0100) + U16(1) + U16(0) + U16(0) + U16(0) + Bytes{0} +
                     U16(kDnsTypeNs) + U16(1);
  EXPECT_EQ(BuildDnsQuery(7, kDnsTypeNs, "", true), root);
  EXPECT_EQ(BuildDnsQuery(7, kDnsTypeNs, "...", true), root);
  // No case folding, no character or label-length checks.
  const std::string odd = "Mixed_Case.x y." + std::string(70, 'L');
  EXPECT_EQ(BuildDnsQuery(7, kDnsTypeA, odd.c_str(), true),
            U16(7) + U16(0x0100) + U16(1) + U16(0) + U16(0) + U16(0) + Name(odd) + U16(1) + U16(1));
}

TEST(BuildDnsQuery, RefusesMissingOverlongNamesAndOtherTypes) {
  const std::string longest(255, 'a');
  EXPECT_EQ(BuildDnsQuery(1, kDnsTypeA, longest.c_str(), true).size(), 255u + 2 + 16);
  EXPECT_TRUE(BuildDnsQuery(1, kDnsTypeA, (longest + "a").c_str(), true).empty());
  EXPECT_TRUE(BuildDnsQuery(1, kDnsTypeA, nullptr, true).empty());
  for (uint16_t type : {0, 3, 16, 33, 255, 65535}) {
    EXPECT_TRUE(BuildDnsQuery(1, type, "a.test", true).empty()) << type;
  }
  for (uint16_t type : {1, 2, 5, 6, 12, 13, 15, 28}) {
    EXPECT_FALSE(BuildDnsQuery(1, type, "a.test", true).empty()) << type;
  }
}

// Names in replies.

TEST(DecodeDnsName, JoinsLabelsAndFollowsPointers) {
  // 12: example.test; 26: "mail" and a pointer to 12; 33: the root; 34: a pointer to it.
  const Bytes m = Header(0, 0, 0, 0) + Name("example.test") + Bytes{4, 'm', 'a', 'i', 'l'} +
                  Pointer(12) + Bytes{0} + Pointer(33);
  EXPECT_EQ(NameAt(m, 12), "example.test");
  EXPECT_EQ(NameAt(m, 26), "mail.example.test");
  EXPECT_EQ(NameAt(m, 33), "");
  EXPECT_EQ(NameAt(m, 34), "");
  EXPECT_EQ(DecodeDnsName(m.data(), m.size(), 26, nullptr, 0), 17);
  // The output is cleared and the text cut to its size - 1.
  EXPECT_EQ(NameAt(m, 26, 5), "mail");
  EXPECT_EQ(DecodeDnsName(nullptr, 0, 0, nullptr, 0), -1);
}

TEST(DecodeDnsName, CutsAt255CharactersDirectlyAndThroughPointers) {
  const std::string l63(63, 'a'), l58(58, 'b');
  const auto label = [](const std::string& text) {
    return Bytes{uint8_t(text.size())} + Bytes(text.begin(), text.end());
  };
  // 251 characters read directly (with the dot after the last label), then a pointer to
  // "cc.dd": the whole is cut at 255.
  const Bytes m = Header(0, 0, 0, 0) + Name("cc.dd") + label(l63) + label(l63) + label(l63) +
                  label(l58) + Pointer(12);
  const std::string direct = l63 + "." + l63 + "." + l63 + "." + l58;
  EXPECT_EQ(NameAt(m, 19), direct + ".cc.d");
  // Five labels of 63 read directly: cut at 255, the rest dropped.
  Bytes d = Header(0, 0, 0, 0);
  for (int i = 0; i < 5; ++i) d = d + label(l63);
  d = d + Bytes{0};
  EXPECT_EQ(NameAt(d, 12), (l63 + "." + l63 + "." + l63 + "." + l63).substr(0, 255));
}

// Segments of one label and a pointer to the previous segment, the first pointing at a root.
Bytes PointerChain(int segments) {
  Bytes m = Header(0, 0, 0, 0) + Bytes{0};
  for (int i = 0; i < segments; ++i) {
    m = m + Bytes{1, 'x'} + Pointer(uint16_t(i == 0 ? 12 : 13 + 4 * (i - 1)));
  }
  return m;
}

TEST(DecodeDnsName, FailsOnLoopsAndReadsPastTheEnd) {
  const Bytes self = Header(0, 0, 0, 0) + Pointer(12);
  EXPECT_EQ(NameAt(self, 12), "<:failed>");
  const Bytes pair = Header(0, 0, 0, 0) + Bytes{1, 'a'} + Pointer(16) + Bytes{1, 'b'} + Pointer(12);
  EXPECT_EQ(NameAt(pair, 12), "<:failed>");
  EXPECT_EQ(NameAt(Header(0, 0, 0, 0) + Pointer(0x3FFF), 12), "<:failed>");
  EXPECT_EQ(NameAt(Header(0, 0, 0, 0) + Bytes{0xC0}, 12), "<:failed>");  // half a pointer
  EXPECT_EQ(NameAt(Header(0, 0, 0, 0) + Bytes{10, 'a', 'b'}, 12), "<:failed>");
  EXPECT_EQ(NameAt(Header(0, 0, 0, 0) + Bytes{1, 'a'}, 12), "<:failed>");  // no end
  EXPECT_EQ(NameAt(Header(0, 0, 0, 0), 200), "<:failed>");
  // A long chain that ends is followed; past the hop limit it counts as a loop.
  const Bytes hundred = PointerChain(100);
  EXPECT_EQ(NameAt(hundred, uint16_t(hundred.size() - 4)).size(), 199u);
  const Bytes twoHundred = PointerChain(200);
  EXPECT_EQ(NameAt(twoHundred, uint16_t(twoHundred.size() - 4)), "<:failed>");
}

// Resource records.

TEST(DecodeResourceRecord, StepsOverOtherTypesByRdlength) {
  const Bytes aaaa(16, 0x20);
  const Bytes m = Header(0, 0, 0, 0) + Record(Name("x.test"), 28, aaaa) +
                  Record(Pointer(12), kDnsTypeA, {203, 0, 113, 5});
  int next = 0;
  const DnsRecord skipped = RecordAt(m, 12, &next);
  EXPECT_EQ(skipped.type, 28);
  EXPECT_EQ(skipped.address, 0u);
  EXPECT_EQ(next, 12 + 8 + 10 + 16);
  EXPECT_EQ(DottedAddress(RecordAt(m, size_t(next)).address), "203.0.113.5");
}

TEST(DecodeResourceRecord, StaysInsideTheMessageAndItsRdata) {
  // RDLENGTH past the end, fixed fields cut short, owner name cut short.
  const Bytes full = Header(0, 0, 0, 0) + Record(Name("a"), kDnsTypeA, {1, 2, 3, 4});
  for (size_t cut = 12; cut < full.size(); ++cut) {
    const Bytes part(full.begin(), full.begin() + long(cut));
    int next = 0;
    RecordAt(part, 12, &next);
    EXPECT_EQ(next, -1) << cut;
  }
  // Fields that do not fit in RDATA stay empty, and the next record is still found.
  const Bytes m = Header(0, 0, 0, 0) + Record(Name("a"), kDnsTypeA, {1, 2}) +
                  Record(Bytes{0}, kDnsTypeSoa, Bytes{0, 0, 0, 0, 0, 1}) +
                  Record(Bytes{0}, kDnsTypeHinfo, Bytes{9, 'x', '8', '6'}) +
                  Record(Bytes{0}, kDnsTypeNs, Bytes{5, 'a', 'b'}) +
                  Record(Bytes{0}, kDnsTypeMx, Bytes{0}) +
                  Record(Bytes{0}, kDnsTypeA, {9, 9, 9, 9});
  int at = 12;
  const DnsRecord shortA = RecordAt(m, size_t(at), &at);
  EXPECT_EQ(shortA.address, 0u);
  const DnsRecord shortSoa = RecordAt(m, size_t(at), &at);
  EXPECT_STREQ(shortSoa.name, "");
  EXPECT_STREQ(shortSoa.name2, "");
  EXPECT_EQ(shortSoa.serial, 0u);
  const DnsRecord shortHinfo = RecordAt(m, size_t(at), &at);
  EXPECT_STREQ(shortHinfo.name, "");
  const DnsRecord shortNs = RecordAt(m, size_t(at), &at);
  EXPECT_STREQ(shortNs.name, "");
  const DnsRecord shortMx = RecordAt(m, size_t(at), &at);
  EXPECT_EQ(shortMx.preference, 0);
  EXPECT_EQ(DottedAddress(RecordAt(m, size_t(at)).address), "9.9.9.9");
}

// Whole replies.

TEST(DecodeDnsReply, MarksRecordsBySectionInReplyOrder) {
  const Bytes q = Question("www.dns.test");
  const Bytes r = Header(1, 2, 1, 1) + q + Record(kAt, kDnsTypeA, {198, 51, 100, 10}) +
                  Record(kAt, kDnsTypeA, {198, 51, 100, 11}) +
                  Record(kAt, kDnsTypeNs, Bytes{3, 'n', 's', '1'} + kAt) +
                  Record(Bytes{3, 'n', 's', '1'} + kAt, kDnsTypeA, {198, 51, 100, 53});
  const Decoded d = DecodeReply(r, q.size());
  ASSERT_TRUE(d.ok);
  ASSERT_EQ(d.reply.recordCount, 4);
  const uint8_t sections[] = {0, 0, 1, 2};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(d.records[size_t(i)].section, sections[i]) << i;
  EXPECT_EQ(DottedAddress(d.records[1].address), "198.51.100.11");
  EXPECT_STREQ(d.records[2].name, "ns1.www.dns.test");

  const Bytes onlyAdditional = Header(1, 0, 0, 1) + q + Record(kAt, kDnsTypeA, {1, 1, 1, 1});
  const Decoded a = DecodeReply(onlyAdditional, q.size());
  ASSERT_EQ(a.reply.recordCount, 1);
  EXPECT_EQ(a.records[0].section, kDnsAdditionalSection);
}

TEST(DecodeDnsReply, StoresUpToTheCapacityAndCountsAllAnnounced) {
  const Bytes q = Question("many.dns.test");
  Bytes r = Header(1, 60, 0, 0) + q;
  for (int i = 1; i <= 60; ++i) r = r + Record(kAt, kDnsTypeA, {203, 0, 113, uint8_t(i)});
  const Decoded d = DecodeReply(r, q.size(), 50);
  EXPECT_EQ(d.reply.recordCount, 60);
  EXPECT_EQ(DottedAddress(d.records[49].address), "203.0.113.50");
  DnsReply none;
  EXPECT_TRUE(DecodeDnsReply(r.data(), r.size(), q.size(), nullptr, 50, &none));
  EXPECT_EQ(none.recordCount, 60);
}

TEST(DecodeDnsReply, SkipsExactlyOneQuestionOfTheSentLength) {
  // QDCOUNT 0: the first record is at byte 12.
  const Decoded none =
      DecodeReply(Header(0, 1, 0, 0) + Record(Name("x"), kDnsTypeA, {1, 2, 3, 4}), 19);
  ASSERT_EQ(none.reply.recordCount, 1);
  EXPECT_EQ(DottedAddress(none.records[0].address), "1.2.3.4");
  // QDCOUNT 2: still one question of the sent length is skipped; the second is read as a record.
  const Bytes q = Question("x");
  const Decoded two =
      DecodeReply(Header(2, 1, 0, 0) + q + Record(Name("x"), kDnsTypeA, {5, 6, 7, 8}), q.size());
  ASSERT_EQ(two.reply.recordCount, 1);
  EXPECT_EQ(DottedAddress(two.records[0].address), "5.6.7.8");
}

TEST(DecodeDnsReply, AReplyThatFallsShortKeepsTheRecordsReadInFull) {
  const Bytes q = Question("www.dns.test");
  const Bytes full = Header(1, 3, 0, 0) + q + Record(kAt, kDnsTypeA, {1, 1, 1, 1}) +
                     Record(kAt, kDnsTypeA, {2, 2, 2, 2}) + Record(kAt, kDnsTypeA, {3, 3, 3, 3});
  const size_t recordSize = 16;
  for (size_t cut = 12 + q.size(); cut < full.size(); ++cut) {
    const Decoded d = DecodeReply(Bytes(full.begin(), full.begin() + long(cut)), q.size());
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.reply.recordCount, int((cut - 12 - q.size()) / recordSize)) << cut;
  }
  // Counts far beyond what the datagram holds.
  const Decoded huge = DecodeReply(
      Header(1, 65535, 65535, 65535) + q + Record(kAt, kDnsTypeA, {1, 1, 1, 1}), q.size());
  EXPECT_EQ(huge.reply.recordCount, 1);
  // A record past the capacity that does not fit still ends the count there.
  const Decoded small = DecodeReply(Bytes(full.begin(), full.end() - 1), q.size(), 1);
  EXPECT_EQ(small.reply.recordCount, 2);
  // The sent question does not fit: no records. A header cut short is no reply at all.
  EXPECT_EQ(DecodeReply(Header(1, 1, 0, 0) + Bytes{3, 'w'}, q.size()).reply.recordCount, 0);
  EXPECT_FALSE(DecodeReply(Bytes{0x04, 0xD2, 0x81, 0x80, 0, 1, 0, 1, 0, 0, 0}, 5).ok);
}
