#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Result codes of FormatBounded. Callers ignore them: over-long lines are cut silently.
inline constexpr uint32_t kFormatOk = 0;
inline constexpr uint32_t kFormatInsufficientBuffer = 0x8007007A;
inline constexpr uint32_t kFormatInvalidArg = 0x80070057;

// Capacities the modules format their lines with (characters, terminator included).
inline constexpr size_t kLineCapacity = 300;

// printf-style formatting into `buffer` of `capacity` characters including the terminator.
// A capacity of 0 or above 2,147,483,647 leaves the buffer untouched (kFormatInvalidArg); a text
// that does not fit is cut to capacity - 1 characters and terminated (kFormatInsufficientBuffer).
uint32_t FormatBounded(char* buffer, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// The same, returning the bounded text.
std::string FormatLine(size_t capacity, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
