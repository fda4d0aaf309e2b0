#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Base64 text as the pane shows it: the standard alphabet with "=" padding, in lines of 64
// characters (48 bytes), every line, the last one too, followed by "\r\n".
inline constexpr size_t kBase64LineBytes = 48;
inline constexpr size_t kBase64LineChars = 64;

// Length of that text for `byteCount` bytes.
uint64_t Base64TextSize(uint64_t byteCount);

// The Base64 characters of `text` with line breaks and blanks dropped, padded with "=" to whole
// groups of four (a missing final padding is accepted). Nothing when the text is not valid
// Base64: a character outside the alphabet, "=" before the end, too much padding, or a final
// group of one character. Text of blanks only gives an empty string.
std::optional<std::string> CleanBase64Text(std::string_view text);

// Number of bytes that clean text (from CleanBase64Text) decodes to.
size_t Base64DecodedSize(std::string_view clean);

// The digest as 32 lower-case hex digits, high digit first, and a terminator.
using Md5Digest = std::array<uint8_t, 16>;
void FormatMd5Hex(const Md5Digest& digest, char (&text)[33]);
