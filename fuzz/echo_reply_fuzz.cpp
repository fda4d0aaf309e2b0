// Received ICMP messages as the echo service reads them: whole IPv4 datagrams from a raw
// socket, ICMPv6 messages from a raw ICMPv6 socket, bare ICMP and ICMPv6 messages from a
// datagram socket, and quoted requests from its error queue.
#include <cstddef>
#include <cstdint>

#include "ping/echo_packet.h"
#include "ping/echo_status.h"

namespace {

void CheckStatus(uint32_t status) {
  char text[200];
  EchoStatusText(status, text, sizeof text);
  if (status != kEchoSuccess && (status < 11001 || status > 11050)) {
    __builtin_trap();  // a match always carries a status of the table
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The request the seeds answer: identifier 0x5150, sequence 7, to 198.18.4.2 or to
  // 2001:2:0:4::2.
  const EchoTicket ticket{0x5150, 7, 0x020412C6};
  EchoReport report{0xFFFFFFFF, 0xFFFFFFFF};
  if (MatchRawReply(data, size, ticket, &report)) CheckStatus(report.status);
  static const IpAddress target6 = *ParseIpv6Address("2001:2:0:4::2");
  uint32_t status = 0xFFFFFFFF;
  if (MatchRawIcmpv6Reply(data, size, 0x5150, 7, target6, &status)) CheckStatus(status);
  for (const auto family : {IpAddress::Family::kIpv4, IpAddress::Family::kIpv6}) {
    (void)MatchDatagramReply(data, size, 7, family);
    (void)MatchQuotedRequest(data, size, 7, family);
  }
  return 0;
}
