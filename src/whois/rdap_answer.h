#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// RDAP answers (RFC 9083) as the registration-data text that port-43 answers of gTLD registries
// read, one label per line, and the lines that say what went wrong instead.

// No real answer comes near this; a server that sends more is cut off.
inline constexpr size_t kRdapAnswerLimit = 2 * 1024 * 1024;
// Redirects followed per exchange, each to an https URL only.
inline constexpr long kRdapRedirectMax = 5;
// Longest URL taken from a server's link: longer ones are not followed.
inline constexpr size_t kRdapUrlMax = 2000;

// How one RDAP exchange ended below HTTP.
enum class RdapTransport {
  Ok,                // an HTTP answer came, whatever its status
  ResolveFailed,     // the server's name does not resolve
  ConnectFailed,     // refused, unreachable, or the connect timed out
  TlsFailed,         // no verified TLS session: a certificate or name the system does not trust
  NoAnswer,          // the connection closed or broke before a whole answer came
  TooLarge,          // the answer went past kRdapAnswerLimit
  TooManyRedirects,  // more than kRdapRedirectMax redirects
  RedirectRefused,   // a redirect to anything but an https URL
  Cancelled,         // the run was stopped; nothing of it is to be shown
};

// One RDAP exchange: the URL that was asked last (after redirects) and what came back.
struct RdapReply {
  RdapTransport transport = RdapTransport::Ok;
  std::string url;
  long httpStatus = 0;        // only for Ok
  long long retryAfter = -1;  // seconds a 429 asked to wait; -1 when it named no time
  std::string body;           // at most kRdapAnswerLimit bytes
};

// "[RDAP: <url>]" and a blank line: what precedes each answer.
std::string RdapUrlLine(std::string_view url);

// The host of an https URL (an IPv6 address without its brackets), or the URL when it has none.
std::string RdapUrlHost(std::string_view url);

struct RdapText {
  std::string text;          // lines ending in CR LF
  bool answered = false;     // the server gave an HTTP answer (of any status)
  std::string registrarUrl;  // the registrar's RDAP record to ask next, or empty
};

// One exchange for the domain `name` as text: the registration data of a 200 answer, or the line
// naming what failed. Every text from the server is shown by the rule for text from outside,
// control characters escaped, so no value can start a line of its own. The registrar's record is
// the answer's "related" link of type application/rdap+json, an https URL other than `askedUrl`.
RdapText RenderRdapReply(const RdapReply& reply, std::string_view name, std::string_view askedUrl);
