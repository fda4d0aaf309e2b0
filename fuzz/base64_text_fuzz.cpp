// Base64 text as pasted into the pane: any bytes, cleaned and decoded.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "codec/base64_text.h"
#include "codec/crypto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> clean = CleanBase64Text(text);
  if (!clean) return 0;
  if (clean->size() % 4 != 0) __builtin_trap();
  std::vector<uint8_t> bytes;
  if (!Base64Decode(*clean, bytes)) __builtin_trap();  // clean text always decodes
  if (bytes.size() != Base64DecodedSize(*clean)) __builtin_trap();

  // Encoding the bytes again gives text that decodes to the same bytes.
  Base64Encoder encoder;
  encoder.update(bytes.data(), bytes.size());
  encoder.finish();
  if (encoder.text().size() != Base64TextSize(bytes.size())) __builtin_trap();
  const std::optional<std::string> again = CleanBase64Text(encoder.text());
  std::vector<uint8_t> back;
  if (!again || !Base64Decode(*again, back) || back != bytes) __builtin_trap();
  return 0;
}
