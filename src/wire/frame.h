#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The frames a window and pelorin-agent exchange over one byte stream (the agent's standard
// input and output, through ssh or a pair of pipes). Each frame is a fixed header in network
// order (big-endian), then `length` bytes of payload:
//
//   offset  size  field
//   0       1     version   kFrameVersion
//   1       1     type      FrameType
//   2       2     flags     kFrameMore, or 0
//   4       4     channel   0: the stream itself; others: one request or one stream each
//   8       4     length    of the payload, at most kFramePayloadLimit
//
// Channel 0 carries the hello, each side's first frame, and errors. The window opens every other
// channel (kFrameOpen: the service and operation asked, then the request) and either side ends
// it (kFrameClose, with an errno: 0 when the operation is done). Between the two, kFrameData
// frames carry messages: a message longer than one frame goes on in the next frames of its
// channel, each but its last flagged kFrameMore. A side sends a channel no more message bytes
// than the other has room for: kChannelWindow at the start, and what the other gives back in
// kFrameCredit frames as its reader takes messages; so one flood never delays another channel.

inline constexpr uint8_t kFrameVersion = 1;
inline constexpr size_t kFrameHeaderSize = 12;
inline constexpr uint32_t kFramePayloadLimit = 64 * 1024;
inline constexpr uint16_t kFrameMore = 1;

// The longest message, of as many frames as it takes; longer results go as several messages.
inline constexpr size_t kMessageLimit = size_t(1) << 20;
// What a side may send a channel before the other gives it room again: room for the longest
// message, as the room a message takes comes back only when its reader takes it whole.
inline constexpr uint32_t kChannelWindow = uint32_t(kMessageLimit);
// Channels open at once; one more is refused (EBUSY).
inline constexpr uint32_t kMostChannels = 256;

enum FrameType : uint8_t {
  kFrameHello = 1,   // channel 0: Hello
  kFrameOpen = 2,    // u16 service, u16 operation, then the request (at most one frame)
  kFrameData = 3,    // a message, or a piece of one
  kFrameClose = 4,   // i32 errno: the channel's end
  kFrameCredit = 5,  // u32 bytes the sender of this frame has room for again on the channel
  kFrameError = 6,   // channel 0: u32 channel, i32 errno, text: a frame the other side refused
};

struct FrameHeader {
  uint8_t version = kFrameVersion;
  uint8_t type = 0;
  uint16_t flags = 0;
  uint32_t channel = 0;
  uint32_t length = 0;
};

void EncodeFrameHeader(const FrameHeader& header, uint8_t out[kFrameHeaderSize]);
// 0 when the header follows the rules, else the errno of the rule it breaks: EPROTO for another
// version, EMSGSIZE for a payload over the limit, EINVAL for an unknown type, flags other than
// kFrameMore on data, or a frame of channel 0 other than a hello or an error. A stream whose
// header breaks a rule cannot be read on (its frames' bounds are lost): the reader ends it.
int DecodeFrameHeader(const uint8_t* data, FrameHeader* header);

// A whole frame, header and payload.
std::vector<uint8_t> EncodeFrame(uint8_t type, uint32_t channel, const void* payload, size_t length,
                                 uint16_t flags = 0);

// The hello: who speaks, and what it can do.
struct Hello {
  uint16_t protocol = kFrameVersion;
  std::string program;     // "pelorin 1.1.0.0", or "pelorin-agent 1.1.0.0"
  uint64_t abilities = 0;  // kAbility* bits
  std::string hostName;    // the inspected host's name (the agent's); empty from a window
};
inline constexpr uint64_t kAbilityServices = 1;  // serves every service of the boundary
inline constexpr uint64_t kAbilityHelper = 2;    // its host's pelorin-helper could be started
inline constexpr size_t kHelloTextLimit = 255;

std::vector<uint8_t> EncodeHello(const Hello& hello);
std::optional<Hello> DecodeHello(const uint8_t* data, size_t size);

// kFrameOpen's payload.
struct OpenRequest {
  uint16_t service = 0;
  uint16_t operation = 0;
  std::vector<uint8_t> request;
};
std::vector<uint8_t> EncodeOpen(const OpenRequest& open);
std::optional<OpenRequest> DecodeOpen(const uint8_t* data, size_t size);

// kFrameError's payload.
struct FrameError {
  uint32_t channel = 0;
  int32_t error = 0;
  std::string text;
};
std::vector<uint8_t> EncodeFrameError(const FrameError& error);
std::optional<FrameError> DecodeFrameError(const uint8_t* data, size_t size);

// kFrameClose's and kFrameCredit's payloads: one 32-bit value.
std::vector<uint8_t> EncodeValue(uint32_t value);
std::optional<uint32_t> DecodeValue(const uint8_t* data, size_t size);
