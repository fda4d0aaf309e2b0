#include "netstat/sock_diag_message.h"

#include <cstring>
#include <optional>

namespace {

// A cursor over one datagram: each read checks what remains.
struct Bytes {
  const uint8_t* data;
  size_t size;

  template <typename T>
  T at(size_t offset) const {
    T value{};
    if (offset <= size && sizeof(T) <= size - offset) std::memcpy(&value, data + offset, sizeof(T));
    return value;
  }
};

struct NetlinkMessage {
  uint32_t length;
  uint16_t type;
  uint32_t sequence;
  Bytes payload;
};

// The message at `offset`, or false when its header does not fit or its length lies.
bool MessageAt(const Bytes& datagram, size_t offset, NetlinkMessage* message) {
  if (offset > datagram.size || datagram.size - offset < kNetlinkHeaderSize) return false;
  message->length = datagram.at<uint32_t>(offset);
  message->type = datagram.at<uint16_t>(offset + 4);
  message->sequence = datagram.at<uint32_t>(offset + 8);
  if (message->length < kNetlinkHeaderSize || message->length > datagram.size - offset) {
    return false;
  }
  message->payload = {datagram.data + offset + kNetlinkHeaderSize,
                      message->length - kNetlinkHeaderSize};
  return true;
}

// Messages start on 4-byte boundaries.
size_t Aligned(size_t length) {
  return (length + 3) & ~size_t{3};
}

// The kernel's errno values lie below this (its MAX_ERRNO).
constexpr int32_t kMaxErrno = 4095;

// The negative errno an error or done message carries, as a positive number (0 for none);
// nullopt for a value no errno can have, which marks the bytes as no answer of the kernel's.
std::optional<int> CarriedError(const Bytes& payload) {
  const int32_t code = payload.at<int32_t>(0);
  if (code >= 0) return 0;
  if (code < -kMaxErrno) return std::nullopt;
  return -code;
}

// The identity's two addresses: 16 bytes each, of which IPv4 uses the first 4.
constexpr size_t kSourceAt = 8;
constexpr size_t kDestinationAt = 24;

DiagSocket SocketOf(const Bytes& m) {
  DiagSocket s;
  s.linuxState = m.at<uint8_t>(1);
  s.localPort = m.at<uint16_t>(4);
  s.remotePort = m.at<uint16_t>(6);
  if (m.at<uint8_t>(0) == kFamilyInet6) {
    s.ipv6 = true;
    std::memcpy(s.localAddress6, m.data + kSourceAt, sizeof s.localAddress6);
    std::memcpy(s.remoteAddress6, m.data + kDestinationAt, sizeof s.remoteAddress6);
  } else {
    s.localAddress = m.at<uint32_t>(kSourceAt);
    s.remoteAddress = m.at<uint32_t>(kDestinationAt);
  }
  s.interfaceIndex = m.at<uint32_t>(40);
  s.cookie[0] = m.at<uint32_t>(44);
  s.cookie[1] = m.at<uint32_t>(48);
  s.inode = m.at<uint32_t>(68);
  return s;
}

}  // namespace

DiagDumpStatus ParseDiagDatagram(const uint8_t* data, size_t size, uint32_t sequence,
                                 std::vector<DiagSocket>& out, int* errorCode, uint8_t family) {
  if (errorCode) *errorCode = 0;
  const Bytes datagram{data, data ? size : 0};
  if (datagram.size == 0) return DiagDumpStatus::Failed;
  size_t offset = 0;
  // Every message takes at least a header, so the loop ends.
  while (offset < datagram.size) {
    NetlinkMessage message;
    if (!MessageAt(datagram, offset, &message)) return DiagDumpStatus::Failed;
    offset += Aligned(message.length);
    if (message.sequence != sequence) continue;
    switch (message.type) {
      case kNetlinkDone:
      case kNetlinkError: {
        const std::optional<int> error = CarriedError(message.payload);
        if (message.type == kNetlinkDone && error == 0) return DiagDumpStatus::Done;
        if (errorCode) *errorCode = error.value_or(0);
        return DiagDumpStatus::Failed;
      }
      case kSockDiagByFamily:
        if (message.payload.size < kInetDiagMessageSize) return DiagDumpStatus::Failed;
        if (message.payload.at<uint8_t>(0) == family) out.push_back(SocketOf(message.payload));
        break;
      default:
        break;  // nothing the tables use
    }
  }
  return DiagDumpStatus::More;
}

int ParseNetlinkAck(const uint8_t* data, size_t size, uint32_t sequence) {
  const Bytes datagram{data, data ? size : 0};
  size_t offset = 0;
  while (offset < datagram.size) {
    NetlinkMessage message;
    if (!MessageAt(datagram, offset, &message)) return -1;
    offset += Aligned(message.length);
    if (message.sequence != sequence || message.type != kNetlinkError) continue;
    if (message.payload.size < 4) return -1;
    return CarriedError(message.payload).value_or(-1);
  }
  return -1;
}
