#include "base/format_bounded.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

constexpr size_t kMaxCapacity = 2147483647;

uint32_t FormatBoundedV(char* buffer, size_t capacity, const char* format, va_list args) {
  if (capacity == 0 || capacity > kMaxCapacity || buffer == nullptr) return kFormatInvalidArg;
  const int needed = std::vsnprintf(buffer, capacity, format, args);
  if (needed < 0) {
    buffer[0] = '\0';
    return kFormatInvalidArg;
  }
  return static_cast<size_t>(needed) < capacity ? kFormatOk : kFormatInsufficientBuffer;
}

}  // namespace

uint32_t FormatBounded(char* buffer, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const uint32_t result = FormatBoundedV(buffer, capacity, format, args);
  va_end(args);
  return result;
}

std::string FormatLine(size_t capacity, const char* format, ...) {
  if (capacity == 0 || capacity > kMaxCapacity) return {};
  std::vector<char> buffer(capacity);
  va_list args;
  va_start(args, format);
  FormatBoundedV(buffer.data(), capacity, format, args);
  va_end(args);
  return std::string(buffer.data());
}
