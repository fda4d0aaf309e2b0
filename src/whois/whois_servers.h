#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

// One row of the server table: a top-level-domain label (lower case, no dots) and the port-43
// whois server of the registry that holds it (at most 32 characters).
struct WhoisServerRow {
  std::string_view key;
  std::string_view server;
};

inline constexpr size_t kWhoisServerRows = 93;
using WhoisServerTable = std::array<WhoisServerRow, kWhoisServerRows>;

// The rows in alphabetical order of their keys: the order of the search and of the custom-server
// list. Several keys may share a server.
const WhoisServerTable& WhoisServers();

// Names whose last label is not in the table, and an empty custom server, go here.
inline constexpr std::string_view kWhoisDefaultServer = "whois.iana.org";
// IPv4 addresses go here; its answers may name a further server in a "ReferralServer:" line.
inline constexpr std::string_view kWhoisAddressRegistryServer = "whois.arin.net";

// Lower-cases `name` in place (A-Z only) and returns the server to ask for it, or nothing when
// the name must be refused ("Bad Name!"): it is empty, has no dot or ends in one. With
// `customServerChecked` the custom text is the server as typed, or the default server when empty.
std::optional<std::string> SelectWhoisServer(std::string& name, bool customServerChecked,
                                             std::string_view customServerText);

// Which service answers a domain name, for the server SelectWhoisServer chose.
enum class WhoisPath {
  Port43,          // the server chosen, on port 43, and nothing else (a custom server)
  Port43ThenRdap,  // a registry's port-43 server; RDAP when it cannot be reached
  RdapFirst,       // RDAP where the bootstrap lists the top-level domain, else the default server
  RdapUrl,         // a custom server given as an RDAP base URL ("https://...")
};
WhoisPath ChooseWhoisPath(std::string_view server, bool customServerChecked);
