#include "netinfo/dhcp_lease.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <limits>

namespace {

// A strict dotted quad ("198.51.100.7": four decimal parts of 0 to 255, at most three digits
// each), in network order.
std::optional<uint32_t> ParseDottedQuad(std::string_view text) {
  uint8_t bytes[4];
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
    }
    unsigned value = 0;
    size_t digits = 0;
    while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9') {
      value = value * 10 + unsigned(text[digits] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
    bytes[part] = uint8_t(value);
    text.remove_prefix(digits);
  }
  if (!text.empty()) return std::nullopt;
  uint32_t address;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

// dhclient's lease file as tokens: words, quoted strings (backslash escapes), and the
// punctuation "{", "}", ";". Comments run from "#" to the line end.
class LeaseTokens {
 public:
  explicit LeaseTokens(std::string_view text) : text_(text) {}

  enum Kind { kEnd, kWord, kString, kOpen, kClose, kSemicolon };

  Kind next(std::string& value) {
    value.clear();
    skipBlanksAndComments();
    if (pos_ >= text_.size()) return kEnd;
    const char c = text_[pos_++];
    if (c == '{') return kOpen;
    if (c == '}') return kClose;
    if (c == ';') return kSemicolon;
    if (c == '"') {
      readString(value);
      return kString;
    }
    --pos_;
    while (pos_ < text_.size() && !IsDelimiter(text_[pos_])) append(value, text_[pos_++]);
    return kWord;
  }

 private:
  static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
  static bool IsDelimiter(char c) {
    return IsBlank(c) || c == '{' || c == '}' || c == ';' || c == '"' || c == '#';
  }
  // Values are kept short: nothing the lease reader wants is longer.
  static void append(std::string& value, char c) {
    if (value.size() < kLeaseNameMax + 1) value.push_back(c);
  }

  void skipBlanksAndComments() {
    while (pos_ < text_.size()) {
      if (IsBlank(text_[pos_])) {
        ++pos_;
      } else if (text_[pos_] == '#') {
        const size_t end = text_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else {
        break;
      }
    }
  }

  // The rest of a quoted string; an unterminated one runs to the end of the text.
  void readString(std::string& value) {
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return;
      if (c == '\\' && pos_ < text_.size()) {
        append(value, text_[pos_++]);
      } else {
        append(value, c);
      }
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
};

template <typename T>
std::optional<T> ParseNumber(std::string_view text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "YYYY/MM/DD" and "HH:MM:SS", which dhclient writes in UTC.
std::optional<int64_t> ParseUtcTime(std::string_view date, std::string_view time) {
  if (date.size() != 10 || date[4] != '/' || date[7] != '/') return std::nullopt;
  if (time.size() != 8 || time[2] != ':' || time[5] != ':') return std::nullopt;
  const auto year = ParseNumber<unsigned>(date.substr(0, 4));
  const auto month = ParseNumber<unsigned>(date.substr(5, 2));
  const auto day = ParseNumber<unsigned>(date.substr(8, 2));
  const auto hour = ParseNumber<unsigned>(time.substr(0, 2));
  const auto minute = ParseNumber<unsigned>(time.substr(3, 2));
  const auto second = ParseNumber<unsigned>(time.substr(6, 2));
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (*year < 1970 || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;
  const std::chrono::year_month_day ymd{std::chrono::year(int(*year)), std::chrono::month(*month),
                                        std::chrono::day(*day)};
  if (!ymd.ok()) return std::nullopt;
  const int64_t days = std::chrono::sys_days(ymd).time_since_epoch().count();
  return days * 86400 + int64_t(*hour) * 3600 + int64_t(*minute) * 60 + int64_t(*second);
}

// A time statement's words after its keyword: "<weekday> <date> <time>", "epoch <seconds>" or
// "never" (no time).
std::optional<int64_t> ParseLeaseTime(const std::vector<std::string>& words) {
  if (words.size() == 3 && words[1] == "epoch") {
    const auto seconds = ParseNumber<int64_t>(words[2]);
    if (seconds && *seconds >= 0 && *seconds < (int64_t(1) << 40)) return seconds;
    return std::nullopt;
  }
  if (words.size() == 4) return ParseUtcTime(words[2], words[3]);
  return std::nullopt;
}

// One statement inside a lease block, as its words; `leaseTime` is the lease's length in
// seconds, -1 while unknown.
void ApplyStatement(const std::vector<std::string>& words, DhcpLease& lease, int64_t& leaseTime) {
  if (words.size() < 2) return;
  const std::string& key = words[0];
  if (key == "interface" && words[1].size() <= kLeaseNameMax) {
    lease.interfaceName = words[1];
  } else if (key == "fixed-address") {
    lease.address = ParseDottedQuad(words[1]).value_or(0);
  } else if (key == "expire") {
    lease.expires = ParseLeaseTime(words);
  } else if (key == "option" && words.size() == 3) {
    if (words[1] == "dhcp-server-identifier") {
      lease.server = ParseDottedQuad(words[2]).value_or(0);
    } else if (words[1] == "dhcp-lease-time") {
      leaseTime = ParseNumber<uint32_t>(words[2]).value_or(-1);
    }
  }
}

// The most statement words worth keeping; longer statements are none the reader needs.
constexpr size_t kMaxWords = 8;

}  // namespace

size_t ForEachDhclientLease(std::string_view text,
                            const std::function<void(const DhcpLease&)>& each) {
  LeaseTokens tokens(text);
  std::string value;
  std::vector<std::string> words;
  size_t depth = 0;           // braces open
  bool inLease = false;       // depth 1 is a "lease" block
  bool leaseOpening = false;  // the last top-level word was "lease"
  DhcpLease lease;
  int64_t leaseTime = -1;
  size_t count = 0;
  for (LeaseTokens::Kind kind; (kind = tokens.next(value)) != LeaseTokens::kEnd;) {
    switch (kind) {
      case LeaseTokens::kOpen:
        ++depth;
        if (depth == 1) {
          inLease = leaseOpening;
          lease = DhcpLease();
          leaseTime = -1;
        }
        words.clear();
        break;
      case LeaseTokens::kClose:
        if (depth == 0) break;  // a stray brace
        if (--depth == 0 && inLease) {
          if (lease.expires && leaseTime >= 0 && leaseTime <= *lease.expires) {
            lease.obtained = *lease.expires - leaseTime;
          }
          each(lease);
          ++count;
          inLease = false;
        }
        words.clear();
        break;
      case LeaseTokens::kSemicolon:
        if (depth == 1 && inLease) ApplyStatement(words, lease, leaseTime);
        words.clear();
        break;
      case LeaseTokens::kWord:
      case LeaseTokens::kString:
        if (words.size() < kMaxWords) words.push_back(value);
        break;
      case LeaseTokens::kEnd:
        break;
    }
    leaseOpening = depth == 0 && kind == LeaseTokens::kWord && value == "lease";
  }
  return count;
}

std::optional<DhcpLease> ParseKeyValueLease(std::string_view text, int64_t writtenAt) {
  DhcpLease lease;
  std::optional<uint32_t> lifetime;
  bool hasAddress = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t equals = line.find('=');
    if (equals != std::string_view::npos) {
      const std::string_view key = line.substr(0, equals);
      const std::string_view value = line.substr(equals + 1);
      if (key == "ADDRESS") {
        const auto address = ParseDottedQuad(value);
        hasAddress = address.has_value();
        lease.address = address.value_or(0);
      } else if (key == "SERVER_ADDRESS") {
        lease.server = ParseDottedQuad(value).value_or(0);
      } else if (key == "LIFETIME") {
        lifetime = ParseNumber<uint32_t>(value);
      }
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  if (!hasAddress) return std::nullopt;
  if (writtenAt >= 0) {
    lease.obtained = writtenAt;
    if (lifetime) lease.expires = writtenAt + int64_t(*lifetime);
  }
  return lease;
}

LeaseChoice::LeaseChoice(std::string name, int index, std::vector<uint32_t> addresses)
    : name_(std::move(name)), index_(index), addresses_(std::move(addresses)) {}

bool LeaseChoice::fileNamesAdapter(std::string_view fileName) const {
  if (fileName == std::to_string(index_)) return true;
  const auto endsWith = [&](const std::string& tail) {
    return fileName.size() > tail.size() && fileName.substr(fileName.size() - tail.size()) == tail;
  };
  return endsWith("." + name_ + ".leases") || endsWith("-" + name_ + ".lease");
}

void LeaseChoice::considerFile(std::string_view fileName, std::string_view text,
                               int64_t writtenAt) {
  const bool named = fileNamesAdapter(fileName);
  const size_t blocks = ForEachDhclientLease(text, [&](const DhcpLease& lease) {
    if (lease.interfaceName == name_ || (lease.interfaceName.empty() && named)) consider(lease);
  });
  if (blocks > 0 || !named) return;
  if (const std::optional<DhcpLease> lease = ParseKeyValueLease(text, writtenAt)) {
    consider(*lease);
  }
}

void LeaseChoice::consider(const DhcpLease& lease) {
  if (std::find(addresses_.begin(), addresses_.end(), lease.address) == addresses_.end()) return;
  const auto age = [](const DhcpLease& l) {
    return l.obtained.value_or(l.expires.value_or(std::numeric_limits<int64_t>::min()));
  };
  if (!best_ || age(lease) >= age(*best_)) best_ = lease;
}
