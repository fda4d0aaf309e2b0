#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/ip_address.h"
#include "sockets/socket_service.h"

// SocketService over the agent's stream. The address list: nothing in kFrameOpen, one
// SocketAddressList message, then the channel's end. An opening: a SocketOpen in kFrameOpen, then
// one SocketOpened message; a session that failed ends the channel there, one that opened keeps
// it open for as long as it lives: the agent sends a SocketUpdate message per wake-up with events,
// the window a SocketCommand per send; the window ends it with close(), the agent when its wait
// fails. Each side's flow control on the channel is the session's: a window that does not read
// stops the agent reading the socket, a peer that does not read stops the agent taking sends.
inline constexpr uint16_t kSocketsLocalAddresses = 1;  // nothing -> SocketAddressList
inline constexpr uint16_t kSocketsListenTcp = 2;       // SocketOpen -> SocketOpened, session
inline constexpr uint16_t kSocketsConnectTcp = 3;      // SocketOpen -> SocketOpened, session
inline constexpr uint16_t kSocketsBindUdp = 4;         // SocketOpen -> SocketOpened, session

// Addresses of one list a side takes, at most.
inline constexpr uint32_t kSocketAddressLimit = 65536;
// Bytes of one send command at most: a longer send goes as several.
inline constexpr size_t kSocketCommandLimit = 256 * 1024;

struct SocketOpen {
  IpAddress address;
  uint16_t port = 0;
};

struct SocketOpened {
  SocketStep failed = SocketStep::kNone;
  int32_t error = 0;
  uint16_t boundPort = 0;
};

// What the window asks of an open session.
struct SocketCommand {
  enum Kind : uint8_t {
    kSend = 1,    // data on the connection
    kSendTo = 2,  // one datagram to address and port
    kProbe = 3,   // nothing: the window waits for room on the channel with it
  };
  Kind kind = kSend;
  IpAddress address;
  uint16_t port = 0;
  std::vector<uint8_t> data;
};

std::vector<uint8_t> EncodeSocketAddressList(const std::vector<IpAddress>& addresses);
std::optional<std::vector<IpAddress>> DecodeSocketAddressList(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeSocketOpen(const SocketOpen& open);
std::optional<SocketOpen> DecodeSocketOpen(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeSocketOpened(const SocketOpened& opened);
std::optional<SocketOpened> DecodeSocketOpened(const std::vector<uint8_t>& bytes);

// An update with no event, an unknown one, or bytes beyond kSocketReceiveLimit is refused.
std::vector<uint8_t> EncodeSocketUpdate(const SocketUpdate& update);
std::optional<SocketUpdate> DecodeSocketUpdate(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeSocketCommand(const SocketCommand& command);
std::optional<SocketCommand> DecodeSocketCommand(const std::vector<uint8_t>& bytes);
