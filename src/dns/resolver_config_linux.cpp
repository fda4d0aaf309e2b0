#include <arpa/inet.h>

#include <fstream>
#include <optional>
#include <string>

#include "dns/resolver_config.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// The value of a line that begins with the keyword and a blank, blanks skipped; nothing for
// another line or an empty value.
std::optional<std::string_view> ValueOf(std::string_view line, std::string_view keyword) {
  if (line.substr(0, keyword.size()) != keyword) return std::nullopt;
  line.remove_prefix(keyword.size());
  if (line.empty() || !IsBlank(line.front())) return std::nullopt;
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  if (line.empty()) return std::nullopt;
  return line;
}

// The first word of a value: up to a blank. Any other byte, a CR too, belongs to it.
std::string_view FirstWord(std::string_view value) {
  return value.substr(0, value.find_first_of(" \t"));
}

// An IPv4 address in any form inet_aton reads, with nothing after it (inet_aton alone would
// stop at white space, such as a CR, and take what came before).
std::optional<uint32_t> Ipv4Of(std::string_view word) {
  if (word.find_first_of("\r\v\f") != std::string_view::npos) return std::nullopt;
  const std::string value(word);
  in_addr address{};
  if (value.empty() || inet_aton(value.c_str(), &address) == 0) return std::nullopt;
  return address.s_addr;
}

bool IsPrintableZone(std::string_view zone) {
  if (zone.size() > kNameServerZoneMax) return false;
  for (const char c : zone) {
    if (c <= ' ' || c > '~') return false;
  }
  return true;
}

// An IPv4 entry in the forms inet_aton reads, else an IPv6 one with an optional "%zone" (a zone
// that is too long or not printable is dropped, the address kept).
std::optional<NameServer> NameServerOf(std::string_view word) {
  if (const std::optional<uint32_t> ipv4 = Ipv4Of(word))
    return NameServer{IpAddress::Ipv4(*ipv4), {}};
  const size_t percent = word.find('%');
  const std::optional<IpAddress> ipv6 = ParseIpv6Address(word.substr(0, percent));
  if (!ipv6) return std::nullopt;
  NameServer server{*ipv6, {}};
  if (percent != std::string_view::npos && IsPrintableZone(word.substr(percent + 1))) {
    server.zone = std::string(word.substr(percent + 1));
  }
  return server;
}

}  // namespace

std::string NameServer::text() const {
  return zone.empty() ? address.text() : address.text() + "%" + zone;
}

ResolverConfig ParseResolverConfig(std::string_view text) {
  ResolverConfig config;
  std::string_view domain;
  size_t servers = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    line = line.substr(0, line.find('\0'));  // the resolver's lines end at a zero byte too
    if (const auto value = ValueOf(line, "nameserver")) {
      if (servers < kResolverMaxNameServers) {
        if (const auto server = NameServerOf(FirstWord(*value))) {
          config.allNameServers.push_back(*server);
          if (server->address.isIpv4()) config.nameServers.push_back(server->address.ipv4());
          ++servers;
        }
      }
    } else if (const auto name = ValueOf(line, "domain")) {
      domain = FirstWord(*name);
    } else if (const auto list = ValueOf(line, "search")) {
      domain = FirstWord(*list);
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  config.domain = std::string(domain.substr(0, kResolverDomainMax));
  return config;
}

uint32_t FirstNameServer(std::string_view text) {
  const ResolverConfig config = ParseResolverConfig(text);
  return config.nameServers.empty() ? 0 : config.nameServers.front();
}

std::optional<ResolverConfig> ReadResolverConfig(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text(kResolverConfigMaxBytes, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (file.bad()) return std::nullopt;
  text.resize(static_cast<size_t>(file.gcount()));
  return ParseResolverConfig(text);
}

uint32_t GetDefaultDnsServer(const std::string& path) {
  const std::optional<ResolverConfig> config = ReadResolverConfig(path);
  return config && !config->nameServers.empty() ? config->nameServers.front() : 0;
}

std::string DefaultDnsServerText(const std::string& path) {
  const std::optional<ResolverConfig> config = ReadResolverConfig(path);
  return config && !config->allNameServers.empty() ? config->allNameServers.front().text()
                                                   : "0.0.0.0";
}
