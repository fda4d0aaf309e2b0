#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/ip_address.h"
#include "dns/dns_message.h"

// An IPv6 server: its address and the interface a link-local one is reached through (0: none).
struct DnsIpv6Server {
  IpAddress address;
  uint32_t scope = 0;
};

// One question and its answer, filled by the caller and partly written back.
struct DnsRequest {
  uint32_t server = 0;  // in: the server's IPv4 address, network order, unless serverIpv6 is set
  std::optional<DnsIpv6Server> serverIpv6;  // in: an IPv6 server, asked instead of `server`
  uint16_t queryId = 0;                     // in: ID of the query, host order
  uint16_t queryType = 0;                   // in: QTYPE
  const char* queryName = nullptr;          // in: the name asked for (not owned)
  int32_t recursionDesired = 0;             // in: non-zero sets RD
  uint32_t timeoutMs = 0;                   // in: longest wait for the reply, milliseconds
  uint8_t responseCode = 0;                 // out: RCODE of the reply; written only on success
  // in: capacity of `records` in entries; out: the records the reply announced, or those read
  // in full when it fell short of its counts; 0 when the exchange failed.
  int32_t recordCount = 0;
  DnsRecord* records = nullptr;  // out: decoded records in reply order (not owned); may be null
  // in: a descriptor (the run's stop signal) whose becoming readable ends the wait at once
  // with -6; -1 for none.
  int wakeFd = -1;
};

// Results of DnsExchange.
inline constexpr int kDnsOk = 0;
inline constexpr int kDnsNoRequest = -1;
inline constexpr int kDnsSocketFailed = -2;
inline constexpr int kDnsBindFailed = -3;
inline constexpr int kDnsQueryNotBuilt = -4;
inline constexpr int kDnsSendFailed = -5;
inline constexpr int kDnsNoReply = -6;

inline constexpr uint16_t kDnsPort = 53;
// The reply is read through a buffer of this size; a longer datagram is a receive failure.
inline constexpr size_t kDnsReceiveBuffer = 1000;

// An IPv6 server as typed or as the resolver configuration names it: the address, optionally
// followed by "%" and the interface (its name or its index) it is reached through. Nothing for any
// other text or an interface the system does not have.
std::optional<DnsIpv6Server> ParseDnsIpv6Server(const std::string& text);

// Sends the query in one UDP datagram to port 53 of the server and waits up to timeoutMs for
// one datagram from that server, which is taken as the reply whatever its id, and decodes its
// records. Datagrams from any other address or port never reach the exchange.
//
// A reply that does not hold what its header announces (counts, labels, pointers or RDLENGTH
// running past its end) is still a success: the result is 0 with the response code and the
// records read in full before the fault, and recordCount counts those. The user thus sees all
// that the server did send. A datagram shorter than the 12-byte header carries no answer at
// all and gives -6, as if nothing had arrived.
int DnsExchange(DnsRequest* request);
