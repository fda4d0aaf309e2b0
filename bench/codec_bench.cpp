// MD5 of a 1 GiB file and Base64 of a 64 MiB file, Pelorin's code beside md5sum and base64 on
// the same files, with the wall time and peak memory of each. Every side runs in a process of
// its own (ours by running this program again), three times; the median time is shown.
//
//   build/default/bench/codec_bench [directory for the temporary files]
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/base64_text.h"
#include "codec/crypto.h"
#include "codec/file_reader.h"

namespace {

constexpr uint64_t kMd5FileBytes = 1ull << 30;
constexpr uint64_t kBase64FileBytes = 64ull << 20;
constexpr int kRounds = 3;

char g_dir[4096];  // removed on Ctrl+C as well
char g_md5File[4200];
char g_base64File[4200];
char g_memoryFile[64] = "/dev/shm/pelorin-codec-bench-XXXXXX";  // a file in memory (tmpfs)

void RemoveFiles() {
  unlink(g_md5File);
  unlink(g_base64File);
  unlink(g_memoryFile);
  rmdir(g_dir);
}

void OnSignal(int) {
  RemoveFiles();
  _exit(130);
}

bool WriteRandomFile(const char* path, uint64_t size) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::mt19937_64 gen(size);
  std::vector<uint64_t> block(1 << 17);  // 1 MiB
  for (uint64_t done = 0; done < size;) {
    for (uint64_t& v : block) v = gen();
    const size_t n = size_t(std::min<uint64_t>(block.size() * 8, size - done));
    if (write(fd, block.data(), n) != ssize_t(n)) {
      close(fd);
      return false;
    }
    done += n;
  }
  return close(fd) == 0;
}

// Our side, as the pane does it (without the progress dialog). Prints a check value: the
// digest, or for Base64 the text's size ("base64-check": the MD5 of the text without its line
// ends, not timed, to compare with the tool's).
int RunOurs(const std::string& what, const char* path) {
  FileReader file;
  if (!file.open(path)) return 2;
  Md5Digest digest{};
  if (what == "md5") {
    Md5Hasher hasher;
    const FileReadEnd end = ReadFileChunks(
        file, kNoFileLimit,
        [&](const uint8_t* data, size_t size) { return hasher.update(data, size); },
        [](uint64_t) { return true; });
    if (end != FileReadEnd::Complete || !hasher.finish(digest)) return 3;
  } else {
    Base64Encoder encoder;
    encoder.reserve(Base64TextSize(file.size()));
    const FileReadEnd end = ReadFileChunks(
        file, kNoFileLimit,
        [&](const uint8_t* data, size_t size) {
          encoder.update(data, size);
          return true;
        },
        [](uint64_t) { return true; });
    if (end != FileReadEnd::Complete) return 3;
    encoder.finish();
    if (what != "base64-check") {
      std::printf("%zu\n", encoder.text().size());
      return 0;
    }
    Md5Hasher hasher;
    const std::string_view text = encoder.text();
    for (size_t at = 0; at < text.size();) {
      const size_t end = text.find('\r', at);
      hasher.update(text.data() + at, end - at);
      at = end + 2;
    }
    if (!hasher.finish(digest)) return 4;
  }
  char hex[33];
  FormatMd5Hex(digest, hex);
  std::printf("%s\n", hex);
  return 0;
}

// A side did not run, or the sides disagree: no ratio is printed then.
[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "codec_bench: %s\n", why.c_str());
  RemoveFiles();
  std::exit(1);
}

struct Measure {
  double ms = 0;
  double peakMiB = 0;
  std::string output;
};

// Runs argv with its output in a pipe, or written to `outputFile` when one is given; time from
// start to exit.
Measure RunProcess(const std::vector<std::string>& argv, const char* outputFile = nullptr) {
  int fds[2];
  if (pipe(fds) != 0) Fail("no pipe for " + argv[0]);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (outputFile == nullptr) {
      dup2(fds[1], STDOUT_FILENO);
    } else {
      const int out = open(outputFile, O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, STDOUT_FILENO);
    }
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  Measure m;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) m.output.append(buf, size_t(n));
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  m.ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  m.peakMiB = double(usage.ru_maxrss) / 1024.0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string command;
    for (const std::string& a : argv) command += (command.empty() ? "" : " ") + a;
    Fail(command + " failed");
  }
  return m;
}

Measure Median(const std::vector<std::string>& argv, const char* outputFile = nullptr) {
  std::vector<Measure> runs;
  for (int i = 0; i < kRounds; ++i) runs.push_back(RunProcess(argv, outputFile));
  std::sort(runs.begin(), runs.end(),
            [](const Measure& a, const Measure& b) { return a.ms < b.ms; });
  return runs[kRounds / 2];
}

// The first 32 characters of a side's output: a digest in hex; fails when there is none.
std::string DigestOf(const char* side, const Measure& m) {
  if (m.output.size() < 32) Fail(std::string(side) + " printed no digest: \"" + m.output + "\"");
  return m.output.substr(0, 32);
}

void Report(const char* task, const char* tool, const Measure& ours, const Measure& theirs) {
  std::printf("%-22s %10.0f ms %8.1f MiB   %-8s %10.0f ms %8.1f MiB   time ratio %.2f\n", task,
              ours.ms, ours.peakMiB, tool, theirs.ms, theirs.peakMiB, ours.ms / theirs.ms);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--ours") == 0) return RunOurs(argv[2], argv[3]);

  const char* base = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  std::snprintf(g_dir, sizeof g_dir, "%s/pelorin-codec-bench-XXXXXX", base);
  if (mkdtemp(g_dir) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  std::snprintf(g_md5File, sizeof g_md5File, "%s/md5-1GiB", g_dir);
  std::snprintf(g_base64File, sizeof g_base64File, "%s/base64-64MiB", g_dir);
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  const int memoryFile = mkstemp(g_memoryFile);
  if (memoryFile < 0) {
    std::perror("a file on /dev/shm");
    RemoveFiles();
    return 1;
  }
  close(memoryFile);
  if (!WriteRandomFile(g_md5File, kMd5FileBytes) ||
      !WriteRandomFile(g_base64File, kBase64FileBytes)) {
    std::perror("writing the test files");
    RemoveFiles();
    return 1;
  }

  const std::string self = "/proc/self/exe";
  char exe[4096];
  const ssize_t n = readlink(self.c_str(), exe, sizeof exe - 1);
  exe[n > 0 ? n : 0] = '\0';

  // The results first: a side that computes something else is not timed against the other.
  const std::string check =
      "base64 -w 64 '" + std::string(g_base64File) + "' | tr -d '\\n' | md5sum";
  if (DigestOf("base64 | md5sum", RunProcess({"sh", "-c", check})) !=
      DigestOf("Pelorin's Base64", RunProcess({exe, "--ours", "base64-check", g_base64File}))) {
    Fail("Pelorin's Base64 text differs from base64's");
  }
  const Measure md5Ours = Median({exe, "--ours", "md5", g_md5File});
  const Measure md5Tool = Median({"md5sum", g_md5File});
  if (DigestOf("Pelorin's MD5", md5Ours) != DigestOf("md5sum", md5Tool)) {
    Fail("the MD5 digests differ: " + md5Ours.output + " and " + md5Tool.output);
  }
  // Pelorin keeps the text in memory for the pane. base64 throws it away first, then keeps it
  // in memory too: in a file on /dev/shm.
  const Measure b64Ours = Median({exe, "--ours", "base64", g_base64File});
  const Measure b64Tool = Median({"base64", "-w", "64", g_base64File}, "/dev/null");
  const Measure b64ToMemory = Median({"base64", "-w", "64", g_base64File}, g_memoryFile);

  std::printf("%-22s %13s %12s   %-8s %13s %12s\n", "task", "Pelorin", "peak", "tool", "time",
              "peak");
  Report("MD5 of 1 GiB", "md5sum", md5Ours, md5Tool);
  Report("Base64 of 64 MiB", "base64", b64Ours, b64Tool);
  Report("  text kept in memory", "base64", b64Ours, b64ToMemory);
  std::printf(
      "(base64 writes to /dev/null in the first Base64 row, to a file on /dev/shm in "
      "the second)\n");
  std::printf("results agree with the tools: MD5 yes, Base64 yes\n");
  RemoveFiles();
  return 0;
}
