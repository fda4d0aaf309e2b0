#include "netstat/sock_diag_message.h"

#include <optional>

#include "base/byte_reader.h"

namespace {

struct NetlinkMessage {
  uint32_t length = 0;
  uint16_t type = 0;
  uint32_t sequence = 0;
  ByteReader payload{nullptr, 0};
};

// The message at `offset`, or false when its header does not fit or its length lies.
bool MessageAt(ByteReader datagram, size_t offset, NetlinkMessage* message) {
  message->length = datagram.native<uint32_t>(offset);
  message->type = datagram.native<uint16_t>(offset + 4);
  message->sequence = datagram.native<uint32_t>(offset + 8);
  if (datagram.failed() || !datagram.has(offset, kNetlinkHeaderSize) ||
      message->length < kNetlinkHeaderSize || !datagram.has(offset, message->length)) {
    return false;
  }
  message->payload = ByteReader(datagram.data() + offset + kNetlinkHeaderSize,
                                message->length - kNetlinkHeaderSize);
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
std::optional<int> CarriedError(ByteReader payload) {
  const int32_t code = payload.native<int32_t>(0);
  if (code >= 0) return 0;
  if (code < -kMaxErrno) return std::nullopt;
  return -code;
}

// The identity's two addresses: 16 bytes each, of which IPv4 uses the first 4.
constexpr size_t kSourceAt = 8;
constexpr size_t kDestinationAt = 24;

// The caller has checked that the message holds a whole inet_diag_msg.
DiagSocket SocketOf(ByteReader m) {
  DiagSocket s;
  s.linuxState = m.u8(1);
  s.localPort = m.port(4);
  s.remotePort = m.port(6);
  if (m.u8(0) == kFamilyInet6) {
    s.ipv6 = true;
    m.from(kSourceAt).nextBytes(s.localAddress6, sizeof s.localAddress6);
    m.from(kDestinationAt).nextBytes(s.remoteAddress6, sizeof s.remoteAddress6);
  } else {
    s.localAddress = m.address(kSourceAt);
    s.remoteAddress = m.address(kDestinationAt);
  }
  s.interfaceIndex = m.native<uint32_t>(40);
  s.cookie[0] = m.native<uint32_t>(44);
  s.cookie[1] = m.native<uint32_t>(48);
  s.inode = m.native<uint32_t>(68);
  return s;
}

}  // namespace

DiagDumpStatus ParseDiagDatagram(const uint8_t* data, size_t size, uint32_t sequence,
                                 std::vector<DiagSocket>& out, int* errorCode, uint8_t family) {
  if (errorCode) *errorCode = 0;
  const ByteReader datagram(data, size);
  if (datagram.length() == 0) return DiagDumpStatus::Failed;
  size_t offset = 0;
  // Every message takes at least a header, so the loop ends.
  while (offset < datagram.length()) {
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
        if (message.payload.length() < kInetDiagMessageSize) return DiagDumpStatus::Failed;
        if (message.payload.u8(0) == family) out.push_back(SocketOf(message.payload));
        break;
      default:
        break;  // nothing the tables use
    }
  }
  return DiagDumpStatus::More;
}

int ParseNetlinkAck(const uint8_t* data, size_t size, uint32_t sequence) {
  const ByteReader datagram(data, size);
  size_t offset = 0;
  while (offset < datagram.length()) {
    NetlinkMessage message;
    if (!MessageAt(datagram, offset, &message)) return -1;
    offset += Aligned(message.length);
    if (message.sequence != sequence || message.type != kNetlinkError) continue;
    if (message.payload.length() < 4) return -1;
    return CarriedError(message.payload).value_or(-1);
  }
  return -1;
}
