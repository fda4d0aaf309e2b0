// Received ICMP messages as the echo service reads them: whole IPv4 datagrams from a raw
// socket, bare ICMP messages from a datagram socket, and quoted requests from its error queue.
#include <cstddef>
#include <cstdint>

#include "ping/echo_packet.h"
#include "ping/echo_status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The request the seeds answer: identifier 0x5150, sequence 7, to 198.18.4.2.
  const EchoTicket ticket{0x5150, 7, 0x020412C6};
  EchoReport report{0xFFFFFFFF, 0xFFFFFFFF};
  if (MatchRawReply(data, size, ticket, &report)) {
    char text[200];
    EchoStatusText(report.status, text, sizeof text);
    if (report.status != kEchoSuccess && (report.status < 11001 || report.status > 11050)) {
      __builtin_trap();  // a match always carries a status of the table
    }
  }
  (void)MatchDatagramReply(data, size, 7);
  (void)MatchQuotedRequest(data, size, 7);
  return 0;
}
