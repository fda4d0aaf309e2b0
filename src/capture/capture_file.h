#pragma once

#include <cstdint>
#include <string>

#include "capture/captured_packet.h"

// Capture files: pcap and pcapng files read with the capture library (the helper's stream is
// one, read as it comes through its pipe), and pcap files written as the library writes them.
// Frames are CaptureFrame (capture/captured_packet.h).

struct CaptureFileReader;

// OpenCaptureFile's and ReadCaptureFrom's failure for bytes the library does not read as a
// capture file (another format, an unknown version, a header cut short).
inline constexpr int kNotCaptureFile = -1;

// Reads a capture file from `fd`, which it takes. Every wait for its bytes also ends when
// `stopFd` (-1 for none) becomes readable, and a stopped read is the end of the file. Null on
// failure with `*error` the errno of the failed read, or kNotCaptureFile.
CaptureFileReader* ReadCaptureFrom(int fd, int stopFd, int* error);

// The same for the file at `path`, opened without waiting: a FIFO's writer is waited for as
// its bytes are. `*error` is also the errno of the failed open.
CaptureFileReader* OpenCaptureFile(const std::string& path, int stopFd, int* error);

void CloseCaptureFileReader(CaptureFileReader* reader);

// From now on the reader's waits end at `stopFd` instead (-1 for none): the stop signal of the
// run that reads next.
void WatchStopSignal(CaptureFileReader* reader, int stopFd);

// The file's link type (as the capture library numbers them) and snapshot length.
int CaptureFileLinkType(const CaptureFileReader* reader);
int CaptureFileSnapLength(const CaptureFileReader* reader);

enum class FrameRead {
  kFrame,    // `*frame` holds the next frame, valid until the next read
  kEnd,      // the file ended where a frame could start (or the stop signal came)
  kDamaged,  // a frame's header or bytes are cut short or make no sense
};
FrameRead ReadCaptureFrame(CaptureFileReader* reader, CaptureFrame* frame);

struct CaptureFileWriter;

// Creates (or empties) the file at `path` as the calling user, and writes a pcap file header for
// the link type and snapshot length. Null on failure with `*error` an errno.
CaptureFileWriter* CreateCaptureFile(const std::string& path, int linkType, int snapLength,
                                     int* error);

// Writes one frame: 0, or the errno of the write that failed, this one or an earlier one (a
// writer that failed writes nothing more). What is written reaches the file within a second.
int WriteCaptureFrame(CaptureFileWriter* writer, const CaptureFrame& frame);

// Writes what waits and closes the file: 0, or the errno of a write that failed.
int CloseCaptureFileWriter(CaptureFileWriter* writer);
