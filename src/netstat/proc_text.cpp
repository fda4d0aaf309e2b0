#include "netstat/proc_text.h"

#include <climits>
#include <cstring>

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Digits only, at most `maxValue`.
std::optional<uint64_t> DecimalOf(std::string_view text, uint64_t maxValue) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (maxValue - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

std::optional<uint32_t> ProcessIdOfName(std::string_view name) {
  const std::optional<uint64_t> pid = DecimalOf(name, INT_MAX);
  if (!pid || *pid == 0) return std::nullopt;
  return static_cast<uint32_t>(*pid);
}

std::optional<uint32_t> SocketInodeOfLink(std::string_view link) {
  constexpr std::string_view kPrefix = "socket:[";
  if (link.size() < kPrefix.size() + 2 || link.substr(0, kPrefix.size()) != kPrefix ||
      link.back() != ']') {
    return std::nullopt;
  }
  const std::optional<uint64_t> inode =
      DecimalOf(link.substr(kPrefix.size(), link.size() - kPrefix.size() - 1), UINT32_MAX);
  if (!inode) return std::nullopt;
  return static_cast<uint32_t>(*inode);
}

uint64_t ResidentBytesOfStatus(std::string_view status) {
  constexpr std::string_view kKey = "VmRSS:";
  size_t at = 0;
  while (at < status.size()) {
    size_t end = status.find('\n', at);
    if (end == std::string_view::npos) end = status.size();
    std::string_view line = status.substr(at, end - at);
    at = end + 1;
    if (line.substr(0, kKey.size()) != kKey) continue;
    line.remove_prefix(kKey.size());
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    size_t digits = 0;
    while (digits < line.size() && IsDigit(line[digits])) ++digits;
    const std::optional<uint64_t> kilobytes = DecimalOf(line.substr(0, digits), UINT64_MAX / 1024);
    line.remove_prefix(digits);
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    if (!kilobytes || line != "kB") return 0;
    return *kilobytes * 1024;
  }
  return 0;
}

std::string CommandLineText(std::string_view raw) {
  while (!raw.empty() && raw.back() == '\0') raw.remove_suffix(1);
  std::string text(raw);
  for (char& c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u == 0) {
      c = ' ';
    } else if (u < 0x20 || u == 0x7F) {
      c = '?';
    }
  }
  return text;
}

int CopyBounded(std::string_view text, char* buffer, size_t capacity) {
  const size_t needed = text.size() + 1;
  const int tooSmall = needed > size_t{INT_MAX} ? INT_MAX : static_cast<int>(needed);
  if (buffer == nullptr || capacity == 0) return tooSmall;
  if (needed <= capacity) {
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return 0;
  }
  size_t length = capacity - 1;
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return tooSmall;
}

std::string GroupThousands(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}
