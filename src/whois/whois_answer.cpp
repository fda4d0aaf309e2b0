#include "whois/whois_answer.h"

#include <algorithm>
#include <new>

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
  if (const size_t colon = server.find(':'); colon != std::string_view::npos) {
    server = server.substr(0, colon);
  }
  return std::string(server.substr(0, kWhoisReferralMax));
}

namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0 if there is none.
size_t Utf8SequenceLength(std::string_view s) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

bool IsUtf8(std::string_view s) {
  while (!s.empty()) {
    const size_t n = Utf8SequenceLength(s);
    if (n == 0) return false;
    s.remove_prefix(n);
  }
  return true;
}

}  // namespace

std::string WhoisTextForDisplay(std::string_view answer) {
  if (IsUtf8(answer)) return std::string(answer);
  std::string out;
  out.reserve(answer.size() * 2);
  for (char c : answer) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(char(0xC0 | (b >> 6)));
      out.push_back(char(0x80 | (b & 0x3F)));
    }
  }
  return out;
}
