#include <arpa/inet.h>

#include <fstream>
#include <optional>
#include <string>

#include "dns/resolver_config.h"

namespace {

constexpr std::string_view kKeyword = "nameserver";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// The IPv4 address of a "nameserver" line, if it is one.
std::optional<uint32_t> NameServerOfLine(std::string_view line) {
  if (line.substr(0, kKeyword.size()) != kKeyword) return std::nullopt;
  line.remove_prefix(kKeyword.size());
  if (line.empty() || !IsBlank(line.front())) return std::nullopt;
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  const std::string value(line.substr(0, line.find_first_of(" \t\r#;")));
  in_addr address{};
  if (value.empty() || inet_aton(value.c_str(), &address) == 0) return std::nullopt;
  return address.s_addr;
}

}  // namespace

uint32_t FirstNameServer(std::string_view text) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (const std::optional<uint32_t> server = NameServerOfLine(line)) return *server;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return 0;
}

uint32_t GetDefaultDnsServer(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return 0;
  std::string text(kResolverConfigMaxBytes, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(file.gcount()));
  return FirstNameServer(text);
}
