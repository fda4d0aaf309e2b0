#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/ip_address.h"
#include "capture/capture_filter.h"
#include "capture/capture_service.h"

// CaptureService over the agent's stream.
// kCaptureAddresses: nothing -> the address list, then the channel's end.
// kCaptureOpen: CaptureAsked -> a channel that stays open while the capture runs. The agent sends
// one CaptureOpened, then CaptureFrames messages, and last a CaptureEnded; the window sends one
// stop message (kCaptureStop) to end the capture and still learn its counts, or ends the
// channel. A capture that cannot be opened ends the channel with its errno and nothing sent.
inline constexpr uint16_t kCaptureAddresses = 1;
inline constexpr uint16_t kCaptureOpen = 2;

// The kind of a message on a capture's channel: its first byte.
inline constexpr uint8_t kCaptureOpened = 1;
inline constexpr uint8_t kCaptureFrames = 2;
inline constexpr uint8_t kCaptureEnded = 3;
inline constexpr uint8_t kCaptureStop = 4;

// Addresses of one list a side takes, at most (each is 17 bytes: the list stays within one
// message).
inline constexpr uint32_t kCaptureAddressLimit = 60000;
// Frames of one message, at most.
inline constexpr size_t kCaptureFramesPerMessage = 256;
// The bytes of one frame, at most: a snapshot never holds more.
inline constexpr uint32_t kCaptureFrameLimit = 262144;

struct CaptureAsked {
  IpAddress address;
  CaptureFilter filter;
};

struct CaptureOpenedRecord {
  int32_t linkType = 0;
  int32_t snapLength = 0;
};

std::vector<uint8_t> EncodeCaptureAddresses(const std::vector<IpAddress>& addresses);
std::optional<std::vector<IpAddress>> DecodeCaptureAddresses(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeCaptureAsked(const CaptureAsked& asked);
std::optional<CaptureAsked> DecodeCaptureAsked(const std::vector<uint8_t>& bytes);

// The kind of a capture channel's message, or 0 for none.
uint8_t CaptureMessageKind(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeCaptureOpened(const CaptureOpenedRecord& opened);
std::optional<CaptureOpenedRecord> DecodeCaptureOpened(const std::vector<uint8_t>& bytes);

// Frames as one message; AppendCaptureFrame adds one to a message begun empty.
void AppendCaptureFrame(std::vector<uint8_t>& message, const CaptureFrame& frame);
// Decodes a frames message into `batch`, adding to what it holds up to `limit` frames in all: the
// bytes are copied into batch.bytes and every frame points there, so a batch must hold only
// frames this decoder put in it. False for a message that cannot be read or holds more frames
// than fit, the batch as it was.
bool DecodeCaptureFrames(const std::vector<uint8_t>& bytes, CaptureBatch& batch, size_t limit);

std::vector<uint8_t> EncodeCaptureEnded(const CaptureEnd& end);
std::optional<CaptureEnd> DecodeCaptureEnded(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeCaptureStop();
