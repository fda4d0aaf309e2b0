// Whois answers as a server may send them: received in chunks, line ends normalised, the
// referral line looked for, and the text prepared for display.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "whois/whois_answer.h"
#include "whois/whois_servers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // The first byte picks the chunk size, as recv may cut the stream anywhere.
  const size_t chunk = bytes.empty() ? 1 : size_t(static_cast<unsigned char>(bytes[0]) % 64) + 1;
  const size_t limit = size / 2 + 1;
  std::string answer;
  for (size_t at = 0; at < size; at += chunk) {
    const size_t before = answer.size();
    if (!AppendAnswerChunk(answer, bytes.substr(at, chunk), limit) && answer.size() != before) {
      __builtin_trap();  // a refused chunk leaves the answer as it was
    }
    if (answer.size() > limit || answer.find('\0') != std::string::npos) __builtin_trap();
  }

  std::string text(bytes.substr(0, bytes.find('\0')));
  const bool hadCrLf = text.find("\r\n") != std::string::npos;
  const std::string original = text;
  NormalizeLineEnds(text);
  if (hadCrLf && text != original) __builtin_trap();
  if (!hadCrLf) {
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) __builtin_trap();
    }
  }

  if (const auto server = FindReferralServer(text)) {
    // A port is never kept: a colon is only ever part of an IPv6 address from brackets.
    if (server->size() > kWhoisReferralMax || server->find('\r') != std::string::npos ||
        (server->find(':') != std::string::npos && server->find(']') != std::string::npos)) {
      __builtin_trap();
    }
  }
  (void)WhoisTextForDisplay(bytes);

  std::string name(bytes.substr(0, kWhoisQueryMax));
  (void)SelectWhoisServer(name, size % 2 == 1, bytes.substr(0, 16));
  return 0;
}
