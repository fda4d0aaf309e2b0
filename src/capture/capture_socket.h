#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/captured_packet.h"

// A capture of the IPv4 and IPv6 traffic of one interface: the interface that holds a chosen
// local address, its packets in and out, the computer's own traffic only (no promiscuous mode).
// Opening one needs CAP_NET_RAW: the privileged helper opens it and streams the frames to the
// window (host/local_capture.cpp).
struct CaptureSocket;
struct bpf_program;
using pcap_t = struct pcap;

// Room for any IP packet (an IPv6 packet's 40-byte header and 65535 bytes of payload) behind the
// longest link header the decoder reads.
inline constexpr int kCaptureSnapLength = 65535 + 64;
// The kernel's ring for one capture. Under a flood of small packets it holds a good fraction
// of a second of traffic, so a short stall of the reader loses nothing.
inline constexpr int kCaptureBufferBytes = 8 * 1024 * 1024;
// How long the kernel holds packets before it hands over a partly filled block; well inside
// the 100 ms in which a packet should reach the pane.
inline constexpr int kCaptureBlockTimeoutMs = 20;

struct CaptureOptions {
  // A capture-library filter expression installed in the kernel; empty for none.
  std::string kernelFilter;
  // Each packet handed over at once instead of by the block.
  bool immediate = false;
  int bufferBytes = kCaptureBufferBytes;
};

// Opens a capture on the interface that holds `address`. Null on
// failure with `*error` set to an errno value: EPERM without CAP_NET_RAW, ENODEV when no
// interface holds the address, ENETDOWN when the interface is down, EINVAL for a filter
// expression that cannot be compiled, and the system's own code otherwise.
CaptureSocket* OpenCaptureSocket(const IpAddress& address, const CaptureOptions& options,
                                 int* error);
void CloseCaptureSocket(CaptureSocket* socket);

// Becomes readable when packets wait; the socket never blocks.
int CaptureWaitFd(const CaptureSocket* socket);

// How long a wait on CaptureWaitFd may last before the capture must be read again, in
// milliseconds; -1 for no limit. The limit is there only after the interface went down: the
// descriptor then says nothing more, and only a read finds out whether the interface is gone.
int CaptureWaitLimitMs(CaptureSocket* socket);

// ReceivePacket and ReadCapturedPacket's result when no packet waits now.
inline constexpr int kNoPacketWaiting = -2;

// Copies the IP packet of the next captured frame (its link header stripped) to `buffer` and
// returns its length; 0 for a frame that does not carry IPv4 or IPv6; kNoPacketWaiting; or -1
// with errno set when the capture failed (the interface went away) or the packet is longer
// than `capacity` (EFAULT).
int ReceivePacket(CaptureSocket* socket, uint8_t* buffer, size_t capacity);

// Reads the next packet into `record`: its length when it is a TCP or UDP packet with payload,
// 0 when it was skipped, kNoPacketWaiting, or -1 when the capture failed.
int ReadCapturedPacket(CaptureSocket* socket, CapturedPacket* record);

// The kernel's counts since the capture opened (CaptureCounts, capture/captured_packet.h).
CaptureCounts CaptureStatistics(CaptureSocket* socket);

// From now on, writes every frame of the capture to `fd` as a capture file (its header first),
// taking the descriptor. False when the stream cannot be started.
bool StreamCaptureTo(CaptureSocket* socket, int fd);

// The stream's descriptor, to watch for a reader that has gone (POLLERR); -1 without a stream.
int CaptureStreamFd(const CaptureSocket* socket);

// Writes the frames that wait now, at most `limit`, to the stream and flushes it: the number
// written, or -1 with errno set when the capture failed (the interface went away) or the stream
// did (EPIPE: its reader is gone).
int StreamWaitingFrames(CaptureSocket* socket, int limit);

// Compiles a capture-library filter expression for the handle into a program the kernel takes.
// The library's optimiser at times makes a program that reads scratch memory no path has
// written: the kernel refuses it, and the library would then judge in user space with whatever
// that memory holds. Such a program is made again without optimisation. False when the
// expression cannot be compiled, or not into a program the kernel takes.
bool CompileKernelFilter(pcap_t* handle, const std::string& expression, bpf_program* program);

// The name of the interface that holds `address`, or empty.
std::string InterfaceOfAddress(const IpAddress& address);
