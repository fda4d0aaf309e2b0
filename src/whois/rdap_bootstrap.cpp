#include "whois/rdap_bootstrap.h"

#include "whois/rdap_json.h"

namespace {

// ASCII only, whatever the locale.
char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != prefix[i]) return false;
  }
  return true;
}

std::string Lowered(std::string text) {
  for (char& c : text) c = LowerAscii(c);
  return text;
}

// The URL of a service to ask: its first HTTPS one, else its first HTTP one moved to HTTPS.
std::optional<std::string> ServiceUrl(const nlohmann::json& urls) {
  std::optional<std::string> plain;
  for (size_t i = 0; i < urls.size(); ++i) {
    const std::string* url = JsonStringAt(urls, i);
    if (url == nullptr) continue;
    if (StartsWithNoCase(*url, "https://") && url->size() > 8) return *url;
    if (StartsWithNoCase(*url, "http://") && url->size() > 7 && !plain) {
      plain = "https://" + url->substr(7);
    }
  }
  return plain;
}

}  // namespace

std::optional<RdapBootstrap> ParseRdapBootstrap(std::string_view json) {
  if (json.size() > kRdapBootstrapLimit) return std::nullopt;
  const std::optional<nlohmann::json> document = ParseBoundedJson(json, 8);
  if (!document) return std::nullopt;
  const nlohmann::json* services = JsonArray(*document, "services");
  if (services == nullptr) return std::nullopt;

  RdapBootstrap bootstrap;
  if (const std::string* publication = JsonString(*document, "publication")) {
    bootstrap.publication = *publication;
  }
  for (const nlohmann::json& service : *services) {
    if (!service.is_array() || service.size() < 2 || !service[0].is_array() ||
        !service[1].is_array()) {
      return std::nullopt;
    }
    std::optional<std::string> url = ServiceUrl(service[1]);
    if (!url) continue;
    if (url->back() != '/') url->push_back('/');
    for (size_t i = 0; i < service[0].size(); ++i) {
      const std::string* label = JsonStringAt(service[0], i);
      if (label != nullptr && !label->empty()) bootstrap.services.emplace(Lowered(*label), *url);
    }
  }
  if (bootstrap.services.empty()) return std::nullopt;
  return bootstrap;
}

const RdapBootstrap* NewerBootstrap(const RdapBootstrap* cache, const RdapBootstrap* shipped) {
  if (cache == nullptr) return shipped;
  if (shipped == nullptr) return cache;
  // ISO 8601 times in one form compare as text.
  return cache->publication > shipped->publication ? cache : shipped;
}

bool RdapBootstrapRefreshDue(std::optional<long long> cacheAge,
                             std::optional<long long> lastTryAge) {
  const auto withinDay = [](std::optional<long long> age) {
    return age && *age >= 0 && *age < kRdapBootstrapRefreshAge;
  };
  return !withinDay(cacheAge) && !withinDay(lastTryAge);
}

std::optional<std::string> FindRdapBaseUrl(const RdapBootstrap& bootstrap, std::string_view name) {
  // From the whole name down to its last label: the longest listed run wins.
  for (size_t start = 0; start < name.size();) {
    const auto found = bootstrap.services.find(std::string(name.substr(start)));
    if (found != bootstrap.services.end()) return found->second;
    const size_t dot = name.find('.', start);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return std::nullopt;
}

bool IsRdapBaseUrl(std::string_view text) {
  return StartsWithNoCase(text, "https://") && text.size() > 8;
}

std::string RdapDomainUrl(std::string_view base, std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url(base);
  if (url.empty() || url.back() != '/') url.push_back('/');
  url += "domain/";
  for (char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
        c == '-' || c == '_') {
      url.push_back(c);
    } else {
      url.push_back('%');
      url.push_back(kHex[b >> 4]);
      url.push_back(kHex[b & 15]);
    }
  }
  return url;
}
