#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The five payload renderings. The mode travels as this flag value between the display
// selector and the renderer.
inline constexpr uint32_t kDisplayAllData = 0x0B;        // offset, hex bytes, text column
inline constexpr uint32_t kDisplayHexOnly = 0x04;        // hex bytes
inline constexpr uint32_t kDisplayHexAndAddress = 0x0A;  // offset, hex bytes
inline constexpr uint32_t kDisplayHexAndText = 0x05;     // hex bytes, text column
inline constexpr uint32_t kDisplayTextOnly = 0x02;       // the bytes as filtered text

inline constexpr int kDisplayModeCount = 5;

// Selector label of index 0..4.
const char* DisplayModeLabel(int index);

// Flag of selector index 0..4; any other index (no selection) gives Text Only.
uint32_t DisplayModeFromIndex(int index);

// The whole rendering of one payload. Hex modes: lines of up to 16 bytes, each ending in
// CR LF, offsets restarting at 0000; nothing for an empty payload. Text Only: the bytes with
// every non-printable byte except TAB, LF and CR shown as ".", followed by CR LF.
std::string FormatPayload(uint32_t mode, const uint8_t* bytes, size_t length);

// 1 for "0"-"9", "A"-"F", "a"-"f", else 0.
int IsHexDigit(char c);
// Value of a hex digit; only called where IsHexDigit holds.
int HexDigitValue(char c);

// Longest text ParseHexText reads, and the room it needs for the bytes of such a text.
inline constexpr size_t kHexTextMaxChars = 1000;
inline constexpr size_t kHexBytesCapacity = 500;

// Bytes from adjacent hex-digit pairs of `text` (its first kHexTextMaxChars characters); any
// other character separates, a digit without a partner is dropped. Writes at most `capacity`
// bytes to `out` and returns their count.
size_t ParseHexText(std::string_view text, uint8_t* out, size_t capacity);
