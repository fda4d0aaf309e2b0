#include <fcntl.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>

#include "capture/capture_file.h"

namespace {

// Reads ask for this much at a time, and writes gather as much.
constexpr size_t kBufferBytes = 256 * 1024;
// Written frames reach the file at least this often.
constexpr std::chrono::seconds kFlushEvery{1};

// The descriptor a capture file is read from, as a file whose reads also end at the stop signal:
// a stopped read is the end of the file.
struct WatchedFile {
  int fd = -1;
  int stopFd = -1;
  int error = 0;  // of the last read that failed
};

ssize_t ReadWatched(void* cookie, char* buffer, size_t size) {
  auto* file = static_cast<WatchedFile*>(cookie);
  for (;;) {
    pollfd fds[2] = {{file->fd, POLLIN, 0}, {file->stopFd, POLLIN, 0}};
    const int ready = poll(fds, file->stopFd >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (file->stopFd >= 0 && fds[1].revents != 0) return 0;
    const ssize_t n = read(file->fd, buffer, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) file->error = errno;
    return n;
  }
}

int CloseWatched(void* cookie) {
  const auto* file = static_cast<const WatchedFile*>(cookie);
  close(file->fd);
  delete file;
  return 0;
}

// A buffer for a file of the C library: given a size only with a buffer of our own, which must
// outlive the file.
using FileBuffer = std::unique_ptr<char[]>;

FileBuffer SetBuffer(FILE* file) {
  FileBuffer buffer(new char[kBufferBytes]);
  setvbuf(file, buffer.get(), _IOFBF, kBufferBytes);
  return buffer;
}

}  // namespace

struct CaptureFileReader {
  pcap_t* file = nullptr;
  FileBuffer buffer;
  WatchedFile* watched = nullptr;  // owned by the file
};

CaptureFileReader* ReadCaptureFrom(int fd, int stopFd, int* error) {
  int ignored = 0;
  int& code = error != nullptr ? *error : ignored;
  auto* watched = new WatchedFile{fd, stopFd, 0};
  FILE* file = fopencookie(watched, "r", {ReadWatched, nullptr, nullptr, CloseWatched});
  if (file == nullptr) {
    code = errno != 0 ? errno : ENOMEM;
    CloseWatched(watched);
    return nullptr;
  }
  FileBuffer buffer = SetBuffer(file);
  char errorText[PCAP_ERRBUF_SIZE];
  pcap_t* handle = pcap_fopen_offline(file, errorText);
  if (handle == nullptr) {
    code = watched->error != 0 ? watched->error : kNotCaptureFile;
    fclose(file);
    return nullptr;
  }
  return new CaptureFileReader{handle, std::move(buffer), watched};
}

CaptureFileReader* OpenCaptureFile(const std::string& path, int stopFd, int* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (error != nullptr) *error = errno;
    return nullptr;
  }
  return ReadCaptureFrom(fd, stopFd, error);
}

void CloseCaptureFileReader(CaptureFileReader* reader) {
  if (reader == nullptr) return;
  pcap_close(reader->file);  // closes the descriptor too
  delete reader;
}

void WatchStopSignal(CaptureFileReader* reader, int stopFd) {
  if (reader != nullptr) reader->watched->stopFd = stopFd;
}

int CaptureFileLinkType(const CaptureFileReader* reader) {
  return reader != nullptr ? pcap_datalink(reader->file) : -1;
}

int CaptureFileSnapLength(const CaptureFileReader* reader) {
  return reader != nullptr ? pcap_snapshot(reader->file) : 0;
}

FrameRead ReadCaptureFrame(CaptureFileReader* reader, CaptureFrame* frame) {
  pcap_pkthdr* header = nullptr;
  const u_char* bytes = nullptr;
  switch (pcap_next_ex(reader->file, &header, &bytes)) {
    case 1:
      frame->seconds = header->ts.tv_sec;
      frame->microseconds = int32_t(header->ts.tv_usec);
      frame->capturedLength = header->caplen;
      frame->wireLength = header->len;
      frame->bytes = bytes;
      return FrameRead::kFrame;
    case PCAP_ERROR_BREAK:
      return FrameRead::kEnd;
    default:
      return FrameRead::kDamaged;
  }
}

struct CaptureFileWriter {
  pcap_t* dead = nullptr;
  pcap_dumper_t* dumper = nullptr;
  FILE* file = nullptr;
  FileBuffer buffer;
  int error = 0;
  std::chrono::steady_clock::time_point flushed = std::chrono::steady_clock::now();

  // The errno of the write that failed, once one has.
  int check() {
    if (error == 0 && ferror(file)) error = errno != 0 ? errno : EIO;
    return error;
  }
};

CaptureFileWriter* CreateCaptureFile(const std::string& path, int linkType, int snapLength,
                                     int* error) {
  int ignored = 0;
  int& code = error != nullptr ? *error : ignored;
  // Opened without waiting, so a FIFO without a reader fails (ENXIO) instead of hanging; the
  // writes wait as ever.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    code = errno;
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    code = errno;
    close(fd);
    return nullptr;
  }
  auto* writer = new CaptureFileWriter;
  writer->file = file;
  writer->buffer = SetBuffer(file);
  writer->dead = pcap_open_dead(linkType, snapLength);
  writer->dumper = writer->dead != nullptr ? pcap_dump_fopen(writer->dead, file) : nullptr;
  if (writer->dumper == nullptr) {
    code = ENOMEM;
    fclose(file);
    if (writer->dead != nullptr) pcap_close(writer->dead);
    delete writer;
    return nullptr;
  }
  // The header goes out at once, so a file that cannot be written fails here.
  if (pcap_dump_flush(writer->dumper) != 0 || writer->check() != 0) {
    code = writer->error != 0 ? writer->error : EIO;
    CloseCaptureFileWriter(writer);
    return nullptr;
  }
  return writer;
}

int WriteCaptureFrame(CaptureFileWriter* writer, const CaptureFrame& frame) {
  if (writer->error != 0) return writer->error;
  pcap_pkthdr header{};
  header.ts.tv_sec = frame.seconds;
  header.ts.tv_usec = frame.microseconds;
  header.caplen = frame.capturedLength;
  header.len = frame.wireLength;
  errno = 0;
  pcap_dump(reinterpret_cast<u_char*>(writer->dumper), &header, frame.bytes);
  if (writer->check() != 0) return writer->error;
  const auto now = std::chrono::steady_clock::now();
  if (now - writer->flushed >= kFlushEvery) {
    writer->flushed = now;
    if (pcap_dump_flush(writer->dumper) != 0 && writer->error == 0) writer->error = errno;
  }
  return writer->check();
}

int CloseCaptureFileWriter(CaptureFileWriter* writer) {
  if (writer == nullptr) return 0;
  errno = 0;
  if (pcap_dump_flush(writer->dumper) != 0 && writer->error == 0) {
    writer->error = errno != 0 ? errno : EIO;
  }
  writer->check();
  const int error = writer->error;
  pcap_dump_close(writer->dumper);  // closes the file
  pcap_close(writer->dead);
  delete writer;
  return error;
}
