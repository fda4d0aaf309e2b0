// Status texts, the request, reply matching and the trace's rules, without a network.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ping/echo_packet.h"
#include "ping/echo_status.h"
#include "ping/ping_trace.h"

namespace {

std::string StatusText(uint32_t code, size_t size = 200) {
  char buffer[200];
  std::memset(buffer, '#', sizeof buffer);
  EchoStatusText(code, buffer, size);
  return buffer;
}

TEST(EchoStatus, TableTextsUnknownCodesAndShortBuffers) {
  EXPECT_EQ(StatusText(0), "SUCCESS");
  EXPECT_EQ(StatusText(11013), "TTL_EXPIRED_TRANSIT");
  EXPECT_EQ(StatusText(11255), "PENDING");
  for (uint32_t unknown : {1u, 11000u, 11024u, 11049u, 11051u, 11254u, 0xFFFFFFFFu}) {
    EXPECT_EQ(StatusText(unknown), "Status Unknown") << unknown;
  }
  EXPECT_EQ(StatusText(11013, 4), "TTL");
  EXPECT_EQ(StatusText(0, 1), "");
  char untouched[2] = {'x', 'y'};
  EchoStatusText(0, untouched, 0);
  EXPECT_EQ(untouched[0], 'x');
}

TEST(EchoStatus, IcmpReportsMapToTheNearestStatus) {
  const uint32_t unreachable[] = {kEchoDestNetUnreachable, kEchoDestHostUnreachable,
                                  kEchoDestProtUnreachable, kEchoDestPortUnreachable,
                                  kEchoPacketTooBig};
  for (uint8_t code = 0; code < 5; ++code) {
    uint32_t status = 0;
    EXPECT_TRUE(StatusOfIcmpReport(3, code, &status));
    EXPECT_EQ(status, unreachable[code]) << int(code);
  }
  uint32_t status = 99;
  EXPECT_TRUE(StatusOfIcmpReport(11, 1, &status));
  EXPECT_EQ(status, kEchoTtlExpiredReassem);
  status = 99;
  EXPECT_FALSE(StatusOfIcmpReport(5, 0, &status));  // a redirect says nothing about the echo
  EXPECT_FALSE(StatusOfIcmpReport(8, 0, &status));  // nor does a request
  EXPECT_EQ(status, 99u);
}

TEST(EchoPacket, RequestCarriesIdSequenceAndThirtyTwoEs) {
  const EchoRequestBytes request = BuildEchoRequest(0x1234, 0xABCD);
  ASSERT_EQ(request.size(), 40u);
  EXPECT_EQ(request[0], 8);
  EXPECT_EQ(request[1], 0);
  EXPECT_EQ(request[4], 0x12);
  EXPECT_EQ(request[5], 0x34);
  EXPECT_EQ(request[6], 0xAB);
  EXPECT_EQ(request[7], 0xCD);
  for (size_t i = 8; i < request.size(); ++i) EXPECT_EQ(request[i], 0x45) << i;
  EXPECT_EQ(InternetChecksum(request.data(), request.size()), 0);
}

TEST(EchoPacket, ChecksumOfOddAndEvenLengths) {
  const uint8_t bytes[] = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};  // RFC 1071 example
  EXPECT_EQ(InternetChecksum(bytes, sizeof bytes), 0x220D);
  const uint8_t odd[] = {0x01};
  EXPECT_EQ(InternetChecksum(odd, 1), 0xFEFF);
}

// Datagrams as a raw socket receives them.
constexpr uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return uint32_t(a) | uint32_t(b) << 8 | uint32_t(c) << 16 | uint32_t(d) << 24;  // network order
}
const uint32_t kTarget = Ip(198, 18, 4, 2);
const uint32_t kRouter = Ip(198, 18, 1, 1);
const uint32_t kClient = Ip(198, 18, 1, 2);
const EchoTicket kTicket{0x5150, 7, kTarget};

std::vector<uint8_t> IpHeader(uint32_t from, uint32_t to, uint8_t protocol, size_t payload,
                              size_t optionBytes = 0) {
  std::vector<uint8_t> header(20 + optionBytes, 0);
  header[0] = static_cast<uint8_t>(0x40 | (header.size() / 4));
  const size_t total = header.size() + payload;
  header[2] = static_cast<uint8_t>(total >> 8);
  header[3] = static_cast<uint8_t>(total);
  header[8] = 64;
  header[9] = protocol;
  std::memcpy(&header[12], &from, 4);
  std::memcpy(&header[16], &to, 4);
  return header;
}

void FixChecksum(std::vector<uint8_t>& icmp) {
  icmp[2] = icmp[3] = 0;
  const uint16_t sum = InternetChecksum(icmp.data(), icmp.size());
  icmp[2] = static_cast<uint8_t>(sum >> 8);
  icmp[3] = static_cast<uint8_t>(sum);
}

std::vector<uint8_t> Datagram(uint32_t from, uint32_t to, std::vector<uint8_t> icmp,
                              size_t optionBytes = 0) {
  FixChecksum(icmp);
  std::vector<uint8_t> packet = IpHeader(from, to, 1, icmp.size(), optionBytes);
  packet.insert(packet.end(), icmp.begin(), icmp.end());
  return packet;
}

std::vector<uint8_t> EchoReply(uint16_t id, uint16_t sequence) {
  EchoRequestBytes request = BuildEchoRequest(id, sequence);
  request[0] = 0;
  return std::vector<uint8_t>(request.begin(), request.end());
}

// An ICMP error report quoting a request from the client to `to`.
std::vector<uint8_t> Report(uint8_t type, uint8_t code, uint16_t id, uint16_t sequence,
                            uint32_t to = kTarget, uint8_t protocol = 1, size_t quoted = 40) {
  std::vector<uint8_t> icmp = {type, code, 0, 0, 0, 0, 0, 0};
  const std::vector<uint8_t> header = IpHeader(kClient, to, protocol, 40);
  icmp.insert(icmp.end(), header.begin(), header.end());
  const EchoRequestBytes request = BuildEchoRequest(id, sequence);
  icmp.insert(icmp.end(), request.begin(), request.begin() + quoted);
  return icmp;
}

bool Match(const std::vector<uint8_t>& packet, EchoReport* report = nullptr) {
  return MatchRawReply(packet.data(), packet.size(), kTicket, report);
}

TEST(RawReplyMatching, TheEchoReplyToOurRequest) {
  EchoReport report;
  ASSERT_TRUE(Match(Datagram(kTarget, kClient, EchoReply(0x5150, 7)), &report));
  EXPECT_EQ(report.from, kTarget);
  EXPECT_EQ(report.status, kEchoSuccess);
  // Header options move the ICMP message; the matcher follows the header length.
  EXPECT_TRUE(Match(Datagram(kTarget, kClient, EchoReply(0x5150, 7), 8)));
}

TEST(RawReplyMatching, RepliesToOtherRequestsAreIgnored) {
  EXPECT_FALSE(Match(Datagram(kTarget, kClient, EchoReply(0x5151, 7))));  // another identifier
  EXPECT_FALSE(Match(Datagram(kTarget, kClient, EchoReply(0x5150, 8))));  // another sequence
  // Our own request, as seen when pinging a local address.
  std::vector<uint8_t> request = EchoReply(0x5150, 7);
  request[0] = 8;
  EXPECT_FALSE(Match(Datagram(kClient, kTarget, request)));
}

TEST(RawReplyMatching, ReportsThatQuoteOurRequest) {
  EchoReport report;
  ASSERT_TRUE(Match(Datagram(kRouter, kClient, Report(11, 0, 0x5150, 7)), &report));
  EXPECT_EQ(report.from, kRouter);
  EXPECT_EQ(report.status, kEchoTtlExpiredTransit);
  ASSERT_TRUE(Match(Datagram(kRouter, kClient, Report(3, 1, 0x5150, 7)), &report));
  EXPECT_EQ(report.status, kEchoDestHostUnreachable);
  // A router may quote only the first 8 bytes of the request.
  EXPECT_TRUE(Match(Datagram(kRouter, kClient, Report(11, 0, 0x5150, 7, kTarget, 1, 8))));
}

TEST(RawReplyMatching, ReportsAboutOtherPacketsAreIgnored) {
  // Another request of ours, another process's request, another destination.
  EXPECT_FALSE(Match(Datagram(kRouter, kClient, Report(11, 0, 0x5150, 6))));
  EXPECT_FALSE(Match(Datagram(kRouter, kClient, Report(11, 0, 0x9999, 7))));
  EXPECT_FALSE(Match(Datagram(kRouter, kClient, Report(11, 0, 0x5150, 7, kRouter))));
  // A UDP datagram that happens to carry the same bytes.
  EXPECT_FALSE(Match(Datagram(kRouter, kClient, Report(3, 3, 0x5150, 7, kTarget, 17))));
  // A redirect quoting our request says nothing about the echo.
  EXPECT_FALSE(Match(Datagram(kRouter, kClient, Report(5, 1, 0x5150, 7))));
  // The quote is cut before the sequence.
  EXPECT_FALSE(Match(Datagram(kRouter, kClient, Report(11, 0, 0x5150, 7, kTarget, 1, 6))));
}

TEST(RawReplyMatching, DamagedOrCutDatagramsAreIgnored) {
  std::vector<uint8_t> good = Datagram(kTarget, kClient, EchoReply(0x5150, 7));
  ASSERT_TRUE(Match(good));
  std::vector<uint8_t> flipped = good;
  flipped.back() ^= 0x01;  // the checksum no longer holds
  EXPECT_FALSE(Match(flipped));
  std::vector<uint8_t> cut(good.begin(), good.end() - 1);  // shorter than its total length
  EXPECT_FALSE(Match(cut));
  std::vector<uint8_t> notIcmp = good;
  notIcmp[9] = 17;
  EXPECT_FALSE(Match(notIcmp));
  std::vector<uint8_t> version6 = good;
  version6[0] = 0x65;
  EXPECT_FALSE(Match(version6));
  std::vector<uint8_t> shortHeader = good;
  shortHeader[0] = 0x44;  // a header length below 20 bytes
  EXPECT_FALSE(Match(shortHeader));
  for (size_t length = 0; length < good.size(); ++length) {
    EXPECT_FALSE(MatchRawReply(good.data(), length, kTicket, nullptr)) << length;
  }
  EXPECT_FALSE(MatchRawReply(nullptr, 100, kTicket, nullptr));
}

TEST(DatagramReplyMatching, SequenceAndKindDecide) {
  const std::vector<uint8_t> reply = EchoReply(0x0001, 7);  // the kernel's identifier
  EXPECT_TRUE(MatchDatagramReply(reply.data(), reply.size(), 7));
  EXPECT_FALSE(MatchDatagramReply(reply.data(), reply.size(), 8));
  EXPECT_FALSE(MatchDatagramReply(reply.data(), 7, 7));
  const EchoRequestBytes request = BuildEchoRequest(0x0001, 7);
  EXPECT_FALSE(MatchDatagramReply(request.data(), request.size(), 7));
  EXPECT_TRUE(MatchQuotedRequest(request.data(), 8, 7));
  EXPECT_FALSE(MatchQuotedRequest(request.data(), 8, 6));
  EXPECT_FALSE(MatchQuotedRequest(request.data(), 7, 7));
  EXPECT_FALSE(MatchQuotedRequest(reply.data(), reply.size(), 7));
}

TEST(TraceOutput, HopLineColumns) {
  EXPECT_EQ(FormatHopLine(1, EchoResult{kRouter, kEchoTtlExpiredTransit, 0}),
            "1    198.18.1.1       0      TTL_EXPIRED_TRANSIT\r\n");
  EXPECT_EQ(FormatHopLine(12, EchoResult{0, kEchoReqTimedOut, -1}),
            "12   0.0.0.0          -1     REQ_TIMED_OUT\r\n");
  EXPECT_EQ(FormatHopLine(254, EchoResult{Ip(255, 255, 255, 255), 7, 123456}),
            "254  255.255.255.255  123456  Status Unknown\r\n");
  EXPECT_EQ(DottedAddress(Ip(10, 0, 0, 1)), "10.0.0.1");
}

// An IPv6 address longer than the column pushes what follows; nobody is ::.
TEST(TraceOutput, Ipv6HopLines) {
  EXPECT_EQ(FormatHopLine(3, EchoResult{0, kEchoTtlExpiredTransit, 7},
                          *ParseIpv6Address("2001:db8:1234:5678::1")),
            "3    2001:db8:1234:5678::1  7      TTL_EXPIRED_TRANSIT\r\n");
  EXPECT_EQ(
      FormatHopLine(2, EchoResult{0, kEchoReqTimedOut, -1}, IpAddress::Ipv6(IpAddress::Bytes{})),
      "2    ::               -1     REQ_TIMED_OUT\r\n");
}

// A scripted echo service: one (return, status) per TTL, the address of a router per TTL.
struct ScriptedEcho {
  explicit ScriptedEcho(std::vector<std::pair<int, uint32_t>> script)
      : answers(std::move(script)) {}
  std::vector<std::pair<int, uint32_t>> answers;
  std::vector<int> ttls;
  int operator()(int ttl, uint32_t timeoutMs, EchoResult* result) {
    EXPECT_EQ(timeoutMs, 2000u);
    ttls.push_back(ttl);
    const auto& [answered, status] = answers[std::min<size_t>(ttl - 1, answers.size() - 1)];
    *result = EchoResult{answered ? Ip(198, 18, 0, uint8_t(ttl)) : 0, status, answered ? 1 : -1};
    return answered;
  }
};

std::string Trace(ScriptedEcho& echo, int cancelAfter = 1000) {
  std::string text;
  RunTrace(
      std::ref(echo), [&](const std::string& s) { text += s; },
      [&] { return static_cast<int>(echo.ttls.size()) >= cancelAfter; });
  return text;
}

const char* kHeader =
    "Begining Trace...\r\n\r\nTTL  Host             Ms     Status\r\n"
    "-----------------------------------\r\n";

TEST(TraceRules, RoutersThenTheDestination) {
  ScriptedEcho echo{{{1, kEchoTtlExpiredTransit}, {1, kEchoTtlExpiredTransit}, {1, kEchoSuccess}}};
  EXPECT_EQ(Trace(echo), std::string(kHeader) +
                             "1    198.18.0.1       1      TTL_EXPIRED_TRANSIT\r\n"
                             "2    198.18.0.2       1      TTL_EXPIRED_TRANSIT\r\n"
                             "3    198.18.0.3       1      SUCCESS\r\n"
                             "\r\nTrace Complete");
}

TEST(TraceRules, SilenceEndsTheTraceFromTheSecondHopOn) {
  ScriptedEcho firstSilent{{{0, kEchoReqTimedOut}, {1, kEchoSuccess}}};
  Trace(firstSilent);
  EXPECT_EQ(firstSilent.ttls, (std::vector<int>{1, 2}));
  ScriptedEcho secondSilent{{{1, kEchoTtlExpiredTransit}, {0, kEchoReqTimedOut}}};
  EXPECT_TRUE(Trace(secondSilent)
                  .ends_with("2    0.0.0.0          -1     REQ_TIMED_OUT\r\n"
                             "\r\nTrace Complete"));
  EXPECT_EQ(secondSilent.ttls, (std::vector<int>{1, 2}));
  // A failed echo with a report (unreachable) ends it like silence.
  ScriptedEcho unreachable{
      {{1, kEchoTtlExpiredTransit}, {1, kEchoTtlExpiredTransit}, {0, kEchoDestNetUnreachable}}};
  Trace(unreachable);
  EXPECT_EQ(unreachable.ttls.size(), 3u);
}

TEST(TraceRules, AtMost254HopsAndOtherReportsGoOn) {
  ScriptedEcho endless{{{1, kEchoTtlExpiredTransit}}};
  const std::string text = Trace(endless);
  EXPECT_EQ(endless.ttls.size(), 254u);
  EXPECT_EQ(endless.ttls.back(), 254);
  EXPECT_TRUE(text.ends_with("\r\n\r\nTrace Complete"));
  ScriptedEcho otherReport{{{1, kEchoSourceQuench}, {1, kEchoSuccess}}};
  Trace(otherReport);
  EXPECT_EQ(otherReport.ttls, (std::vector<int>{1, 2}));
  EXPECT_FALSE(TraceGoesOn(254, 1, kEchoTtlExpiredTransit));
  EXPECT_TRUE(TraceGoesOn(1, 0, kEchoReqTimedOut));
}

TEST(TraceRules, ACancelledTracePrintsNoMore) {
  ScriptedEcho echo{{{1, kEchoTtlExpiredTransit}}};
  const std::string text = Trace(echo, 3);
  EXPECT_EQ(echo.ttls.size(), 3u);
  EXPECT_TRUE(text.ends_with("2    198.18.0.2       1      TTL_EXPIRED_TRANSIT\r\n")) << text;
}

}  // namespace
