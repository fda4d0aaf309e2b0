#pragma once

#include <optional>
#include <string>

#include "sys/run_token.h"

class QWidget;
class WhoisService;

// One query run: the pane that owns its error boxes and output, the run's token, and the service
// of the host the exchanges go out from.
struct WhoisRun {
  QWidget* pane = nullptr;
  RunTokenPtr token;
  WhoisService* service = nullptr;
};

// Asks `server` (a name or an address) about `query` on port 43 and returns its answer
// with normalised line ends. On failure it shows the error box, in the pane, and returns nothing;
// a stopped run returns nothing without a box.
std::optional<std::string> WhoisQuery(const WhoisRun& run, const std::string& server,
                                      const std::string& query);

// A domain name: the server chosen for it (or "Bad Name!"), asked with the lower-cased name; or
// the registry's RDAP service where the name's registry has none on port 43 (its row names the
// default server, or there is no row) or where its port-43 server cannot be reached, with one
// line before saying so. Returns the text to print, which may come with an error box.
std::optional<std::string> WhoisByName(const WhoisRun& run, std::string name,
                                       bool customServerChecked,
                                       const std::string& customServerText);

// An IPv4 or IPv6 address: the address registry, then the server of its referral, if any, whose
// answer alone is returned. Only one referral is followed.
std::optional<std::string> WhoisByAddress(const WhoisRun& run, const std::string& addressText);

// The name's record from an RDAP service: its registry's answer and then, if it links one, the
// registrar's, each after the line naming its URL. Nothing when the run was stopped.
struct RdapLookup {
  std::string text;
  bool answered = false;  // the registry's service gave an HTTP answer
};
std::optional<RdapLookup> WhoisByRdap(const WhoisRun& run, const std::string& baseUrl,
                                      const std::string& name);

// A seam for tests only; the program never sets it. `addressRegistry` replaces the address
// registry's fixed server name; empty restores it. (The lookups of the port-43 exchange and the
// bootstrap's files are the host's: see NewLocalWhoisService.)
struct WhoisTestHooks {
  std::string addressRegistry;
};
void SetWhoisTestHooks(WhoisTestHooks hooks);
