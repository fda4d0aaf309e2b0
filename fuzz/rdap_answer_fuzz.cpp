// RDAP answers and bootstrap files as a server may send them: rendered as registration-data text
// under any HTTP status, the registrar's link looked for, and the services of a bootstrap read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "whois/rdap_answer.h"
#include "whois/rdap_bootstrap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kRdapAnswerLimit) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  RdapReply reply;
  reply.url = "https://rdap.test/domain/example.dev";
  // The first byte picks the status: mostly 200, the others for the error texts.
  static constexpr long kStatuses[] = {200, 200, 200, 404, 429, 500};
  reply.httpStatus = size == 0 ? 200 : kStatuses[data[0] % 6];
  reply.retryAfter = size > 1 ? data[1] : -1;
  reply.body = std::string(bytes);
  const RdapText text = RenderRdapReply(reply, "example.dev", reply.url);

  // Every line ends in CR LF and nothing from the server makes a line of its own.
  for (size_t i = 0; i < text.text.size(); ++i) {
    const char c = text.text[i];
    if (c == '\r' && (i + 1 >= text.text.size() || text.text[i + 1] != '\n')) __builtin_trap();
    if (c == '\n' && (i == 0 || text.text[i - 1] != '\r')) __builtin_trap();
  }
  if (!text.text.empty() && !text.text.ends_with("\r\n")) __builtin_trap();
  if (!text.registrarUrl.empty()) {
    if (!IsRdapBaseUrl(text.registrarUrl) || text.registrarUrl.size() > kRdapUrlMax) {
      __builtin_trap();
    }
    for (char c : text.registrarUrl) {
      if (static_cast<unsigned char>(c) <= ' ') __builtin_trap();
    }
  }

  if (const auto bootstrap = ParseRdapBootstrap(bytes)) {
    for (const auto& [label, url] : bootstrap->services) {
      if (url.empty() || url.back() != '/' || !IsRdapBaseUrl(url)) __builtin_trap();
    }
    (void)FindRdapBaseUrl(*bootstrap, "www.example.co.uk");
  }
  return 0;
}
