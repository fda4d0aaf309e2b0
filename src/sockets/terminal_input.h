#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// The port of a digits-only port field, read as an unsigned number and taken as a 16-bit port
// (only the low 16 bits count). Empty text, a non-digit or a number beyond 32 bits gives 0.
uint16_t PortFromText(std::string_view text);

// Longest text of the send dialog, line breaks counted as CR LF.
inline constexpr size_t kSendTextMaxChars = 1000;

// The bytes the send dialog sends for its text: the text itself, or with `hex` the bytes of its
// hex-digit pairs (at most 500). Nothing when hex text holds no complete pair.
std::optional<std::vector<uint8_t>> SendDataFromText(std::string_view text, bool hex);
