#pragma once

#include <optional>
#include <string>

#include "sys/name_service.h"
#include "sys/run_token.h"
#include "whois/rdap_answer.h"
#include "whois/whois_exchange.h"

// What the Whois pane asks of the host it inspects: the exchanges go out from that host, which
// resolves the servers' names and keeps the RDAP bootstrap.
class WhoisService : public NameService {
 public:
  // ExchangeWhois from the host: `query` to `server` (an address, or a name the host resolves)
  // on port 43. A cancelled token ends every wait at once (Cancelled).
  virtual WhoisExchangeResult exchange(const std::string& server, const std::string& query,
                                       const RunToken& token) = 0;
  // ExchangeRdap from the host, with its own certificate store. A cancelled token ends every
  // wait at once (Cancelled).
  virtual RdapReply exchangeRdap(const std::string& url, const RunToken& token) = 0;
  // The base URL of the RDAP service the host's bootstrap (LoadRdapBootstrap: its cache,
  // refreshed when due, or the shipped copy) lists for the lower-case domain `name`; nothing
  // when it lists none, when there is no bootstrap, or when the run was stopped.
  virtual std::optional<std::string> rdapServiceFor(const std::string& name,
                                                    const RunToken& token) = 0;
};
