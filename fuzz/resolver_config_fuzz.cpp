// Resolver configuration text, as found in the system's file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dns/resolver_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)FirstNameServer(text);
  const ResolverConfig config = ParseResolverConfig(text);
  if (config.domain.size() > kResolverDomainMax) __builtin_trap();
  // A zone is shown as it is written: short, and nothing in it that could break a line.
  for (const NameServer& server : config.allNameServers) {
    if (server.zone.size() > kNameServerZoneMax) __builtin_trap();
    for (const char c : server.zone) {
      if (c <= ' ' || c > '~') __builtin_trap();
    }
  }
  return 0;
}
