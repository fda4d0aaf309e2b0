#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dns/dns_exchange.h"
#include "dns/dns_message.h"
#include "sys/name_service.h"
#include "sys/run_token.h"

// What the DNS pane asks of the host it inspects.

// One question to a server (DnsRequest's inputs).
struct DnsQuery {
  uint32_t server = 0;                      // IPv4, network order, unless serverIpv6 is set
  std::optional<DnsIpv6Server> serverIpv6;  // an IPv6 server, asked instead
  uint16_t queryId = 0;                     // host order
  uint16_t queryType = 0;                   // QTYPE
  std::string name;                         // the name asked for
  bool recursionDesired = false;
  uint32_t timeoutMs = 0;      // longest wait for the reply
  int32_t recordCapacity = 0;  // records kept at most
};

// Its answer (DnsExchange's outputs).
struct DnsAnswer {
  int result = kDnsNoRequest;      // kDnsOk or one of DnsExchange's failures
  uint8_t responseCode = 0;        // RCODE, on success
  int32_t recordCount = 0;         // as DnsRequest::recordCount
  std::vector<DnsRecord> records;  // at most recordCapacity, in reply order
};

class DnsService : public NameService {
 public:
  // The text "Get Default" shows: the first name server of the host's resolver configuration.
  virtual std::string defaultServerText() = 0;
  // ParseDnsIpv6Server with the host's interfaces.
  virtual std::optional<DnsIpv6Server> parseIpv6Server(const std::string& text) = 0;
  // DnsExchange from the host; a cancelled token ends the wait at once (kDnsNoReply).
  virtual DnsAnswer exchange(const DnsQuery& query, const RunToken& token) = 0;
};
