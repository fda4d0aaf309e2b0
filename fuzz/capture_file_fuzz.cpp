// Capture files as Open Capture File... reads them, damaged and cut short as they come: the
// reading of a pcap or pcapng file from its descriptor, then every frame decoded for the link
// type the file names. A decoded packet's payload always lies within its frame.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "capture/capture_file.h"
#include "capture/captured_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("capture-file", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data, size) != ssize_t(size) || lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return 0;
  }
  CaptureFileReader* reader = ReadCaptureFrom(fd, -1, nullptr);
  if (reader == nullptr) return 0;
  const int linkType = CaptureFileLinkType(reader);
  static auto record = std::make_unique<CapturedPacket>();
  CaptureFrame frame;
  while (ReadCaptureFrame(reader, &frame) == FrameRead::kFrame) {
    if (DecodeFrame(linkType, frame.bytes, frame.capturedLength, record.get()) &&
        (record->payloadLength == 0 || record->payloadLength > frame.capturedLength)) {
      __builtin_trap();
    }
  }
  CloseCaptureFileReader(reader);
  return 0;
}
