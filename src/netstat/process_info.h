#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Facts about another process, read from /proc/<pid>: its executable, its command line, its
// memory; and ending it. Every call opens and closes what it reads.

inline constexpr int kSelectImagePath = 1;    // /proc/<pid>/exe
inline constexpr int kSelectCommandLine = 0;  // /proc/<pid>/cmdline, NULs as blanks

// Reads the image path or the command line of a process into `buffer` of `capacity` bytes, as
// text to show (control characters as '?'). Returns -1 when it cannot be read (no such process,
// or another user's without the privileges), 0 when the whole text fitted, or the capacity the
// whole text needs when it did not: the buffer then holds it cut to capacity - 1 bytes.
int ReadProcessParameter(uint32_t processId, int selector, char* buffer, size_t capacity);

// The path of the process's executable exactly as the system names it, or nothing.
std::optional<std::string> ReadExecutablePath(uint32_t processId);

// The resident set size (VmRSS) in bytes; 0 when it cannot be read.
uint64_t GetProcessWorkingSet(uint32_t processId);

enum class TerminateResult {
  Terminated,
  CannotOpen,  // no such process, no right to signal it, or no process id at all (0)
  Failed,      // it could be signalled a moment ago but the kill itself failed
};

// Ends the process with SIGKILL.
TerminateResult TerminateProcessById(uint32_t processId);
