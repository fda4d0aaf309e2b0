#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "netstat/proc_text.h"
#include "netstat/process_info.h"

namespace {

// More than any command line the kernel lets a program start with.
constexpr size_t kProcFileLimit = size_t(16) << 20;

// Process ids that name one process: never 0 (kill(0) would signal our own process group) and
// never above INT_MAX (a negative pid_t signals a whole group).
bool IsProcessId(uint32_t processId) {
  return processId != 0 && processId <= INT_MAX;
}

// A whole file of the process's /proc directory, or nothing when it cannot be opened or read.
std::optional<std::string> ReadProcFile(const ProcessHandle& process, const char* file) {
  if (!process.valid()) return std::nullopt;
  const int fd = openat(process.dir(), file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0 || text.size() >= kProcFileLimit) break;
    text.append(chunk, size_t(n));
  }
  close(fd);
  return text;
}

std::string DisplayPath(std::string path) {
  for (char& c : path) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  return path;
}

}  // namespace

ProcessHandle::ProcessHandle(uint32_t processId) {
  if (!IsProcessId(processId)) return;
  char path[24];
  std::snprintf(path, sizeof path, "/proc/%u", processId);
  dir_ = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

ProcessHandle::~ProcessHandle() {
  if (dir_ >= 0) close(dir_);
}

std::optional<std::string> ReadExecutablePathOf(const ProcessHandle& process) {
  if (!process.valid()) return std::nullopt;
  std::vector<char> path(PATH_MAX);
  const ssize_t n = readlinkat(process.dir(), "exe", path.data(), path.size());
  if (n <= 0 || size_t(n) >= path.size()) return std::nullopt;
  return std::string(path.data(), size_t(n));
}

int ReadProcessParameterOf(const ProcessHandle& process, int selector, char* buffer,
                           size_t capacity) {
  if (buffer == nullptr || capacity == 0) return -1;
  std::optional<std::string> text;
  if (selector != kSelectCommandLine) {
    if (const auto path = ReadExecutablePathOf(process)) text = DisplayPath(*path);
  } else if (const auto raw = ReadProcFile(process, "cmdline")) {
    text = CommandLineText(*raw);
  }
  if (!text) return -1;
  return CopyBounded(*text, buffer, capacity);
}

uint64_t GetProcessWorkingSetOf(const ProcessHandle& process) {
  const std::optional<std::string> status = ReadProcFile(process, "status");
  return status ? ResidentBytesOfStatus(*status) : 0;
}

namespace {

// The name of a user or group id in the system's databases, or empty.
template <typename Entry, typename Lookup>
std::string NameOf(uint32_t id, Lookup lookup, char* Entry::*name) {
  std::vector<char> buffer(16384);
  Entry entry{};
  Entry* found = nullptr;
  if (lookup(id, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->*name == nullptr) {
    return {};
  }
  return found->*name;
}

}  // namespace

std::optional<ExecutableFile> DescribeExecutableFile(const std::string& path) {
  struct stat facts {};
  if (stat(path.c_str(), &facts) != 0) return std::nullopt;
  ExecutableFile file;
  file.path = path;
  file.size = uint64_t(facts.st_size);
  file.owner = NameOf<passwd>(facts.st_uid, getpwuid_r, &passwd::pw_name);
  file.group = NameOf<group>(facts.st_gid, getgrgid_r, &group::gr_name);
  file.mode = uint32_t(facts.st_mode) & 07777;
  file.modifiedMs = int64_t(facts.st_mtim.tv_sec) * 1000 + facts.st_mtim.tv_nsec / 1000000;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return file;
  file.contentRead = true;
  file.head.resize(kExecutableHeadSize);
  size_t filled = 0;
  while (filled < file.head.size()) {
    const ssize_t n = read(fd, file.head.data() + filled, file.head.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    filled += size_t(n);
  }
  close(fd);
  file.head.resize(filled);
  return file;
}

TerminateResult TerminateProcessById(uint32_t processId) {
  if (!IsProcessId(processId)) return TerminateResult::CannotOpen;
  const pid_t pid = static_cast<pid_t>(processId);
  if (kill(pid, 0) != 0) return TerminateResult::CannotOpen;
  return kill(pid, SIGKILL) == 0 ? TerminateResult::Terminated : TerminateResult::Failed;
}
