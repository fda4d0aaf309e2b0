#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Facts about another process, read from /proc/<pid> with this process's rights: its
// executable, its command line, its memory; and ending it. Every call opens and closes what it
// reads. (This computer's Netstat service asks the privileged helper for the facts first, which
// may read them for any process that owns a TCP or UDP socket: host/local_netstat.h.)

inline constexpr int kSelectImagePath = 1;    // /proc/<pid>/exe
inline constexpr int kSelectCommandLine = 0;  // /proc/<pid>/cmdline, NULs as blanks

enum class TerminateResult {
  Terminated,
  CannotOpen,  // no such process, no right to signal it, or no process id at all (0)
  Failed,      // it could be signalled a moment ago but the kill itself failed
};

// Ends the process with SIGKILL: this user's own processes only, as no capability lets the
// window or the helper signal another user's.
TerminateResult TerminateProcessById(uint32_t processId);

// A process held by a descriptor of its /proc directory: what is read through it is of that
// very process, or fails once it has ended, even when its id has gone to another process since.
class ProcessHandle {
 public:
  explicit ProcessHandle(uint32_t processId);  // not valid() for no such process
  ~ProcessHandle();
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;

  bool valid() const { return dir_ >= 0; }
  int dir() const { return dir_; }

 private:
  int dir_ = -1;
};

// What a file system says of a process's executable file: what its properties window shows.
struct ExecutableFile {
  std::string path;           // exactly as the system names it
  uint64_t size = 0;          // bytes
  std::string owner;          // the name of its owner, empty when the user database has none
  std::string group;          // the name of its group, likewise
  uint32_t mode = 0;          // its permission bits (07777)
  int64_t modifiedMs = 0;     // last modified, milliseconds since 1970 (UTC)
  bool contentRead = false;   // whether it could be read, so `head` holds its first bytes
  std::vector<uint8_t> head;  // at most kExecutableHeadSize, which tell its type
};
inline constexpr size_t kExecutableHeadSize = 16384;

// The file at `path` as this process sees it; nothing when there is none (a deleted executable).
std::optional<ExecutableFile> DescribeExecutableFile(const std::string& path);

// The image path or the command line of the process into `buffer` of `capacity` bytes, as text
// to show (control characters as '?'). Returns -1 when it cannot be read (no such process, or
// another user's without the privileges), 0 when the whole text fitted, or the capacity the
// whole text needs when it did not: the buffer then holds it cut to capacity - 1 bytes.
int ReadProcessParameterOf(const ProcessHandle& process, int selector, char* buffer,
                           size_t capacity);
// The path of the process's executable exactly as the system names it, or nothing.
std::optional<std::string> ReadExecutablePathOf(const ProcessHandle& process);
// The resident set size (VmRSS) in bytes; 0 when it cannot be read.
uint64_t GetProcessWorkingSetOf(const ProcessHandle& process);
