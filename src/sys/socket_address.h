#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>

#include "base/ip_address.h"

// An address of either family as the socket calls take it and give it back.
struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;

  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// A sockaddr_in or sockaddr_in6 of the address and port (host order); `scopeId` is the interface
// a link-local IPv6 address is reached through.
SocketAddress MakeSocketAddress(const IpAddress& address, uint16_t port, uint32_t scopeId = 0);

// The address and port (host order) of a sockaddr_in or sockaddr_in6; nothing for any other
// family or a length too short for it.
struct AddressAndPort {
  IpAddress address;
  uint16_t port = 0;
};
std::optional<AddressAndPort> ReadSocketAddress(const sockaddr_storage& storage, socklen_t length);
