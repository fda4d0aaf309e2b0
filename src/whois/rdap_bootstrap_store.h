#pragma once

#include <optional>
#include <string>

#include "sys/run_token.h"
#include "whois/rdap_bootstrap.h"

// Where the bootstrap is kept: the copy shipped with the program and the user's cache of IANA's
// current file, refreshed from `refreshUrl`.
struct RdapBootstrapPlaces {
  std::string cacheFile;    // empty: no cache (no cache folder to be had)
  std::string shippedFile;  // empty: none
  std::string refreshUrl{kRdapBootstrapUrl};
};

// pelorin/rdap-dns.json in the cache folder ($XDG_CACHE_HOME, else ~/.cache), and the shipped
// copy in the installed data folder, or beside the program in the build tree.
RdapBootstrapPlaces DefaultRdapBootstrapPlaces();

// The bootstrap to use: the cache is refreshed first when that is due (at most one try a day,
// quick to give up, quiet when it fails), then the newer of the cache and the shipped copy is
// taken; a damaged cache counts as none. Nothing when neither can be read.
std::optional<RdapBootstrap> LoadRdapBootstrap(const RdapBootstrapPlaces& places,
                                               const RunToken& token);
