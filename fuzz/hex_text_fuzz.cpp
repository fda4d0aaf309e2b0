// Hex text as typed by the user, and payload renderings of arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/payload_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t out[kHexBytesCapacity];
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t count = ParseHexText(text, out, sizeof out);
  if (count > sizeof out) __builtin_trap();
  for (uint32_t mode : {kDisplayAllData, kDisplayHexOnly, kDisplayHexAndAddress, kDisplayHexAndText,
                        kDisplayTextOnly}) {
    (void)FormatPayload(mode, data, size);
  }
  return 0;
}
