#include <netinet/in.h>

#include <cstring>

#include "sys/socket_address.h"

SocketAddress MakeSocketAddress(const IpAddress& address, uint16_t port, uint32_t scopeId) {
  SocketAddress sa;
  if (address.isIpv4()) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = address.ipv4();
    in.sin_port = htons(port);
    std::memcpy(&sa.storage, &in, sizeof in);
    sa.length = sizeof in;
  } else {
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    std::memcpy(&in6.sin6_addr, address.bytes().data(), sizeof in6.sin6_addr);
    in6.sin6_port = htons(port);
    in6.sin6_scope_id = scopeId;
    std::memcpy(&sa.storage, &in6, sizeof in6);
    sa.length = sizeof in6;
  }
  return sa;
}

std::optional<AddressAndPort> ReadSocketAddress(const sockaddr_storage& storage, socklen_t length) {
  if (storage.ss_family == AF_INET && length >= socklen_t(sizeof(sockaddr_in))) {
    sockaddr_in in;
    std::memcpy(&in, &storage, sizeof in);
    return AddressAndPort{IpAddress::Ipv4(in.sin_addr.s_addr), ntohs(in.sin_port)};
  }
  if (storage.ss_family == AF_INET6 && length >= socklen_t(sizeof(sockaddr_in6))) {
    sockaddr_in6 in6;
    std::memcpy(&in6, &storage, sizeof in6);
    return AddressAndPort{IpAddress::Ipv6(in6.sin6_addr.s6_addr), ntohs(in6.sin6_port)};
  }
  return std::nullopt;
}
