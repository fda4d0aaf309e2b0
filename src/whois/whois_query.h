#pragma once

#include <optional>
#include <string>

#include "shell/resolve_host.h"
#include "shell/run_token.h"

class QWidget;

// One query run: the pane that owns its error boxes and output, and the run's token.
struct WhoisRun {
  QWidget* pane = nullptr;
  RunTokenPtr token;
};

// Asks `server` (a name or an address) about `query` on port 43 and returns its answer
// with normalised line ends. On failure it shows the error box, in the pane, and returns nothing;
// a stopped run returns nothing without a box.
std::optional<std::string> WhoisQuery(const WhoisRun& run, const std::string& server,
                                      const std::string& query);

// A domain name: the server chosen for it (or "Bad Name!"), asked with the lower-cased name.
std::optional<std::string> WhoisByName(const WhoisRun& run, std::string name,
                                       bool customServerChecked,
                                       const std::string& customServerText);

// An IPv4 or IPv6 address: the address registry, then the server of its referral, if any, whose
// answer alone is returned. Only one referral is followed.
std::optional<std::string> WhoisByAddress(const WhoisRun& run, const std::string& addressText);

// Seams for tests only; the program never sets them. `addressRegistry` replaces the address
// registry's fixed server name, `lookups` the system's name lookups. Empty restores both.
struct WhoisTestHooks {
  std::string addressRegistry;
  const HostLookups* lookups = nullptr;
};
void SetWhoisTestHooks(WhoisTestHooks hooks);
