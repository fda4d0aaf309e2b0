#pragma once

#include <cstdint>

#include "capture/capture_file.h"
#include "capture/capture_filter.h"
#include "capture/capture_socket.h"
#include "capture/captured_packet.h"

// A capture through the privileged helper: the helper opens the capture on the interface that
// holds the chosen address, with the kernel filter it makes from the capture filter itself, and
// streams the frames as a capture file through a pipe, which this side reads.
struct CaptureStream;

// Starts one. Null on failure with `*error` an errno: EPERM without a usable helper, and what
// OpenCaptureSocket reports for the capture itself (ENODEV, ENETDOWN...); 0 when `stopFd`
// became readable first. `stopFd` (-1 for none) also ends every later wait for a frame.
CaptureStream* OpenCaptureStream(const IpAddress& address, const CaptureFilter& filter, int stopFd,
                                 int* error);

// The stream's link type and snapshot length, as a file saved from it gets them.
int StreamLinkType(const CaptureStream* stream);
int StreamSnapLength(const CaptureStream* stream);

// Waits for the next frame: true with `*frame` filled (valid until the next read), false when
// the stream ended (the stop signal, a capture that failed, or a helper that went).
bool ReadStreamFrame(CaptureStream* stream, CaptureFrame* frame);

// Waits for the next frame and decodes it into `record`: its length when it is a TCP or UDP
// packet with payload, 0 when it was skipped, -1 when the stream ended.
int ReadStreamPacket(CaptureStream* stream, CapturedPacket* record);

// Ends the capture: the kernel's counts of it, all 0 when the helper did not tell them.
CaptureCounts CloseCaptureStream(CaptureStream* stream);
