#pragma once

#include <cstddef>
#include <string>

#include "sys/run_token.h"
#include "whois/rdap_answer.h"

// A 429's Retry-After is waited for up to this many seconds, then the URL asked again (at most
// kRdapBusyRetries times); a longer wait is reported instead.
inline constexpr long long kRdapRetryWaitMax = 5;
inline constexpr int kRdapBusyRetries = 2;

struct RdapExchangeLimits {
  size_t answerLimit = kRdapAnswerLimit;
  long connectTimeoutMs = 0;  // 0: as long as the system's connect waits
  long totalTimeoutMs = 0;    // 0: no limit of its own
};

// One RDAP GET over HTTPS: TLS verified against the system's certificate store, redirects
// followed (at most kRdapRedirectMax, each to an https URL), the answer bounded, a busy server
// (429) waited for as kRdapRetryWaitMax says. Like the port-43 exchange it has no time-out of its
// own unless `limits` gives one, but every wait ends at once when `token` is cancelled.
RdapReply ExchangeRdap(const std::string& url, const RunToken& token,
                       const RdapExchangeLimits& limits = {});
