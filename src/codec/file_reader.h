#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// A file opened for reading in pieces, so memory stays small whatever its size.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Opens an existing file for reading; false when it is missing, unreadable or a directory.
  // Opening never waits, not even for a pipe without a writer.
  bool open(const std::string& path);

  // A plain file is read for exactly the size it had when opened. Pipes, devices and the
  // kernel's pseudo files (whose size says nothing) are read until they end.
  bool sized() const { return sized_; }
  uint64_t size() const { return size_; }
  int descriptor() const { return fd_; }

 private:
  int fd_ = -1;
  bool sized_ = false;
  uint64_t size_ = 0;
};

enum class FileReadEnd {
  Complete,   // every byte was handed on
  ShortRead,  // fewer bytes came than the size promised, or a read failed
  TooLarge,   // more than the limit
  Cancelled,  // keepGoing said no
};

inline constexpr size_t kFileChunkBytes = 256 * 1024;
inline constexpr uint64_t kNoFileLimit = UINT64_MAX;

// Reads the whole file and hands each piece to `consume` in order; false from it ends the
// read as Cancelled. A sized file larger than
// `limit` is refused before anything is read; another file as soon as it passes the limit.
// `keepGoing(bytesSoFar)` is asked after every piece and, while a pipe has nothing to read,
// every 50 ms; false ends the read as Cancelled.
FileReadEnd ReadFileChunks(FileReader& file, uint64_t limit,
                           const std::function<bool(const uint8_t*, size_t)>& consume,
                           const std::function<bool(uint64_t)>& keepGoing);
