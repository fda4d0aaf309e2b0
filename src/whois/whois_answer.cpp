#include "whois/whois_answer.h"

#include <algorithm>
#include <new>

#include "base/outside_text.h"

bool AppendAnswerChunk(std::string& answer, std::string_view chunk, size_t limit) {
  const size_t zero = chunk.find('\0');
  if (zero != std::string_view::npos) chunk = chunk.substr(0, zero);
  if (chunk.size() > limit || answer.size() > limit - chunk.size()) return false;
  try {
    answer.append(chunk);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void NormalizeLineEnds(std::string& text) {
  if (text.find("\r\n") != std::string::npos) return;
  const size_t lineFeeds = size_t(std::count(text.begin(), text.end(), '\n'));
  if (lineFeeds == 0) return;
  std::string out;
  out.reserve(text.size() + lineFeeds);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  text = std::move(out);
}

std::optional<std::string> FindReferralServer(std::string_view answer) {
  static constexpr std::string_view kTag = "\r\nReferralServer: ";
  const size_t tag = answer.find(kTag);
  if (tag == std::string_view::npos) return std::nullopt;
  const size_t start = tag + kTag.size();
  const size_t end = answer.find('\r', start);
  if (end == std::string_view::npos) return std::nullopt;

  std::string_view server = answer.substr(start, end - start);
  // "scheme://host": the name starts two characters after the first slash. A value that ends
  // right after its slash has no host left.
  if (const size_t slash = server.find('/'); slash != std::string_view::npos) {
    server.remove_prefix(std::min(slash + 2, server.size()));
  }
  const size_t bracket = server.find(']');
  if (!server.empty() && server.front() == '[' && bracket != std::string_view::npos) {
    server = server.substr(1, bracket - 1);
  } else if (const size_t colon = server.find(':'); colon != std::string_view::npos) {
    server = server.substr(0, colon);
  }
  return std::string(server.substr(0, kWhoisReferralMax));
}

std::string WhoisTextForDisplay(std::string_view answer) {
  return TextFromOutside(answer, '\n');
}
