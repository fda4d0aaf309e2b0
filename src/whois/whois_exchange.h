#pragma once

#include <string>

#include "sys/resolve_host.h"
#include "sys/run_token.h"
#include "whois/whois_answer.h"

enum class WhoisExchangeStatus {
  Ok,             // the answer is complete: the server closed, or the connection broke
  SocketFailed,   // no socket could be opened
  ResolveFailed,  // the server is neither an address nor a name that resolves
  ConnectFailed,  // refused, unreachable, or the connect timed out
  SendFailed,     // the request could not be sent
  NoMemory,       // the answer could not be grown (or went past its limit)
  Cancelled,      // the run was stopped; nothing of it is to be shown
};

struct WhoisExchangeResult {
  WhoisExchangeStatus status = WhoisExchangeStatus::Ok;
  std::string answer;  // with normalised line ends; only for Ok
};

// True when `text` is an IPv4 address in a form inet_addr accepts (255.255.255.255 is not).
bool IsDottedAddress(const std::string& text);
// True for such an IPv4 address or an IPv6 address as inet_pton reads it: a query for the
// address registry.
bool IsWhoisAddress(const std::string& text);

// One whois exchange: takes `server` as an IPv4 or IPv6 address or resolves it through `lookups`
// (by ResolveHost's rules: its first IPv4 address, else its first IPv6 one), opens a TCP socket
// of that family, connects to port `port`, sends the query and CR LF, and reads the answer until
// the server closes. No step has a time-out of its own, but every wait ends at once when `token`
// is cancelled.
WhoisExchangeResult ExchangeWhois(const std::string& server, const std::string& query,
                                  const RunToken& token, const HostLookups& lookups,
                                  size_t answerLimit = kWhoisAnswerLimit,
                                  unsigned short port = kWhoisPort);
