#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Texts read from /proc, parsed with every length checked.

// A process directory's name ("1234") as a process id: 1 to 2,147,483,647, digits only.
std::optional<uint32_t> ProcessIdOfName(std::string_view name);

// The inode of a descriptor link that names a socket ("socket:[12345]"); nothing for any other
// link, or an inode that does not fit 32 bits.
std::optional<uint32_t> SocketInodeOfLink(std::string_view link);

// The resident set size from a /proc/<pid>/status text ("VmRSS:\t  1234 kB") in bytes; 0 when
// the line is missing (kernel threads) or does not read as a number of kB.
uint64_t ResidentBytesOfStatus(std::string_view status);

// A /proc/<pid>/cmdline as one line: the NULs between arguments become blanks, the final NUL
// goes, and other control characters show as '?' so that a process cannot forge lines of ours.
std::string CommandLineText(std::string_view raw);

// Copies `text` into `buffer` of `capacity` bytes, terminated: whole when it fits, else cut to
// capacity - 1 bytes without splitting a UTF-8 character. Returns 0 when it fitted, else the
// capacity the whole text needs (its length and the terminator). Nothing is written when
// `capacity` is 0.
int CopyBounded(std::string_view text, char* buffer, size_t capacity);

// A number in decimal with a comma between groups of three digits ("12,345").
std::string GroupThousands(uint64_t value);
