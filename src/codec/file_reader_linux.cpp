#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "codec/file_reader.h"

namespace {

constexpr int kStreamWaitMs = 50;

// The kernel's pseudo files report a size of 0 or of a page, whatever they hold.
bool IsPseudoFileSystem(int fd) {
  struct statfs fs {};
  if (fstatfs(fd, &fs) != 0) return false;
  return fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC || fs.f_type == DEBUGFS_MAGIC ||
         fs.f_type == TRACEFS_MAGIC;
}

enum class ReadStep { Data, End, Wait, Failed };

ReadStep ReadSome(int fd, uint8_t* buffer, size_t capacity, size_t& got) {
  for (;;) {
    const ssize_t n = read(fd, buffer, capacity);
    if (n > 0) {
      got = size_t(n);
      return ReadStep::Data;
    }
    if (n == 0) return ReadStep::End;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? ReadStep::Wait : ReadStep::Failed;
  }
}

}  // namespace

FileReader::~FileReader() {
  if (fd_ >= 0) close(fd_);
}

bool FileReader::open(const std::string& path) {
  if (fd_ >= 0) close(fd_);
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return false;
  struct stat st {};
  if (fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd_);
    fd_ = -1;
    return false;
  }
  sized_ = S_ISREG(st.st_mode) && st.st_size > 0 && !IsPseudoFileSystem(fd_);
  size_ = sized_ ? uint64_t(st.st_size) : 0;
  if (sized_) posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

FileReadEnd ReadFileChunks(FileReader& file, uint64_t limit,
                           const std::function<bool(const uint8_t*, size_t)>& consume,
                           const std::function<bool(uint64_t)>& keepGoing) {
  if (file.descriptor() < 0) return FileReadEnd::ShortRead;
  if (file.sized() && file.size() > limit) return FileReadEnd::TooLarge;
  std::vector<uint8_t> buffer(kFileChunkBytes);
  uint64_t done = 0;
  for (;;) {
    if (file.sized() && done == file.size()) return FileReadEnd::Complete;
    size_t want = buffer.size();
    if (file.sized()) want = size_t(std::min<uint64_t>(want, file.size() - done));
    size_t got = 0;
    switch (ReadSome(file.descriptor(), buffer.data(), want, got)) {
      case ReadStep::Data:
        if (got > limit - done) return FileReadEnd::TooLarge;
        done += got;
        if (!consume(buffer.data(), got) || !keepGoing(done)) return FileReadEnd::Cancelled;
        break;
      case ReadStep::End:
        return file.sized() ? FileReadEnd::ShortRead : FileReadEnd::Complete;
      case ReadStep::Wait: {
        pollfd p{file.descriptor(), POLLIN, 0};
        poll(&p, 1, kStreamWaitMs);
        if (!keepGoing(done)) return FileReadEnd::Cancelled;
        break;
      }
      case ReadStep::Failed:
        return FileReadEnd::ShortRead;
    }
  }
}
