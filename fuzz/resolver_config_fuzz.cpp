// Resolver configuration text, as found in the system's file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dns/resolver_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)FirstNameServer(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
