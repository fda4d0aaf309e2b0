#include "wire/socket_records.h"

#include "wire/record_reader.h"
#include "wire/record_writer.h"

namespace {

constexpr uint32_t kKnownEvents =
    kSocketRead | kSocketWrite | kSocketAccept | kSocketConnect | kSocketClose;
constexpr uint8_t kReadFailed = 0x01;
constexpr uint8_t kAcceptFailed = 0x02;
constexpr uint8_t kPeerKnown = 0x04;
constexpr uint8_t kKnownFlags = kReadFailed | kAcceptFailed | kPeerKnown;

}  // namespace

std::vector<uint8_t> EncodeSocketAddressList(const std::vector<IpAddress>& addresses) {
  RecordWriter w;
  w.u32(uint32_t(addresses.size()));
  for (const IpAddress& address : addresses) w.address(address);
  return w.take();
}

std::optional<std::vector<IpAddress>> DecodeSocketAddressList(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  const uint32_t count = r.nextCount(kSocketAddressLimit, 17);
  std::vector<IpAddress> addresses;
  addresses.reserve(count);
  for (uint32_t i = 0; i < count && !r.failed(); ++i) addresses.push_back(r.nextAddress());
  if (!r.complete()) return std::nullopt;
  return addresses;
}

std::vector<uint8_t> EncodeSocketOpen(const SocketOpen& open) {
  return RecordWriter().address(open.address).u16(open.port).take();
}

std::optional<SocketOpen> DecodeSocketOpen(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  SocketOpen open;
  open.address = r.nextAddress();
  open.port = r.next16();
  if (!r.complete()) return std::nullopt;
  return open;
}

std::vector<uint8_t> EncodeSocketOpened(const SocketOpened& opened) {
  return RecordWriter().u8(uint8_t(opened.failed)).i32(opened.error).u16(opened.boundPort).take();
}

std::optional<SocketOpened> DecodeSocketOpened(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  SocketOpened opened;
  const uint8_t step = r.next8();
  opened.error = r.nextI32();
  opened.boundPort = r.next16();
  if (!r.complete() || step > uint8_t(SocketStep::kConnect)) return std::nullopt;
  opened.failed = SocketStep(step);
  return opened;
}

std::vector<uint8_t> EncodeSocketUpdate(const SocketUpdate& update) {
  const uint8_t flags = (update.readFailed ? kReadFailed : 0) |
                        (update.acceptFailed ? kAcceptFailed : 0) |
                        (update.peer.known ? kPeerKnown : 0);
  return RecordWriter()
      .u32(update.events)
      .i32(update.readError)
      .i32(update.writeError)
      .i32(update.acceptError)
      .i32(update.connectError)
      .i32(update.closeError)
      .u8(flags)
      .address(update.peer.address)
      .u16(update.peer.port)
      .blob(update.bytes)
      .take();
}

std::optional<SocketUpdate> DecodeSocketUpdate(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  SocketUpdate update;
  update.events = r.next32();
  update.readError = r.nextI32();
  update.writeError = r.nextI32();
  update.acceptError = r.nextI32();
  update.connectError = r.nextI32();
  update.closeError = r.nextI32();
  const uint8_t flags = r.next8();
  update.peer.address = r.nextAddress();
  update.peer.port = r.next16();
  update.bytes = r.nextBlob(kSocketReceiveLimit);
  if (!r.complete() || update.events == 0 || (update.events & ~kKnownEvents) != 0 ||
      (flags & ~kKnownFlags) != 0) {
    return std::nullopt;
  }
  update.readFailed = (flags & kReadFailed) != 0;
  update.acceptFailed = (flags & kAcceptFailed) != 0;
  update.peer.known = (flags & kPeerKnown) != 0;
  return update;
}

std::vector<uint8_t> EncodeSocketCommand(const SocketCommand& command) {
  return RecordWriter()
      .u8(command.kind)
      .address(command.address)
      .u16(command.port)
      .blob(command.data)
      .take();
}

std::optional<SocketCommand> DecodeSocketCommand(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  SocketCommand command;
  const uint8_t kind = r.next8();
  command.address = r.nextAddress();
  command.port = r.next16();
  command.data = r.nextBlob(kSocketCommandLimit);
  if (!r.complete() || kind < SocketCommand::kSend || kind > SocketCommand::kProbe) {
    return std::nullopt;
  }
  command.kind = SocketCommand::Kind(kind);
  return command;
}
