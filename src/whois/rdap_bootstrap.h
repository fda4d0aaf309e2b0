#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

// IANA's RDAP bootstrap for domain names (RFC 9224): which registry's RDAP service answers for
// which top-level domain.

// A bootstrap file larger than this is damaged: IANA's is about 75 KB.
inline constexpr size_t kRdapBootstrapLimit = 4 * 1024 * 1024;
// The cache is refreshed at most this often (seconds): once a day.
inline constexpr long long kRdapBootstrapRefreshAge = 24 * 60 * 60;
// Where IANA publishes the current file.
inline constexpr std::string_view kRdapBootstrapUrl = "https://data.iana.org/rdap/dns.json";

struct RdapBootstrap {
  std::string publication;  // as the file gives it, e.g. "2024-04-24T18:00:02Z"
  // Lower-case label or labels ("dev", "co.uk") -> the base URL to ask, ending in "/".
  std::unordered_map<std::string, std::string> services;
};

// The file's services, or nothing when it is damaged: not JSON, no "services" list of pairs of
// label and URL lists, or beyond the limit. A service with only plain-HTTP URLs is asked over
// HTTPS at the same place: answers are taken over verified TLS only.
std::optional<RdapBootstrap> ParseRdapBootstrap(std::string_view json);

// The newer of the cache and the shipped copy by publication time (the shipped one when they
// are equal, or when the cache is damaged).
const RdapBootstrap* NewerBootstrap(const RdapBootstrap* cache, const RdapBootstrap* shipped);

// Whether a lookup should try to refresh the cache: it is missing or older than a day, and no
// try was made within the day. Ages are in seconds, nothing meaning "never".
bool RdapBootstrapRefreshDue(std::optional<long long> cacheAge,
                             std::optional<long long> lastTryAge);

// The base URL of the service for a lower-case domain name: the longest run of its last labels
// that the bootstrap lists, or nothing.
std::optional<std::string> FindRdapBaseUrl(const RdapBootstrap& bootstrap, std::string_view name);

// Whether the text is an RDAP base URL a user gave as a server: it starts with "https://".
bool IsRdapBaseUrl(std::string_view text);

// The URL of a domain's record under a base URL: base, "/" if it lacks one, "domain/", and the
// name with every byte outside letters, digits, '.', '-' and '_' percent-encoded.
std::string RdapDomainUrl(std::string_view base, std::string_view name);
