#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

// The Netstat tests' own sockets on loopback addresses of their own, so their rows are known.
// Each call returns a descriptor (or -1) and the port the system picked.

inline sockaddr_in LoopbackAddress(const char* address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = inet_addr(address);
  sa.sin_port = htons(port);
  return sa;
}

inline uint16_t LocalPortOf(int fd) {
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  return ntohs(sa.sin_port);
}

inline int BoundSocket(int type, const char* address, uint16_t* port) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  const sockaddr_in sa = LoopbackAddress(address, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return -1;
  *port = LocalPortOf(fd);
  return fd;
}

inline int Listener(const char* address, uint16_t* port) {
  const int fd = BoundSocket(SOCK_STREAM, address, port);
  return (fd >= 0 && listen(fd, 16) == 0) ? fd : -1;
}

inline int UdpSocket(const char* address, uint16_t* port) {
  return BoundSocket(SOCK_DGRAM, address, port);
}

// A connection from `from` (a port the system picks) to a listener: the client's descriptor, and
// the accepted one in `*server`.
inline int Connect(const char* from, int listener, const char* address, uint16_t port,
                   int* server) {
  uint16_t fromPort = 0;
  const int fd = BoundSocket(SOCK_STREAM, from, &fromPort);
  const sockaddr_in sa = LoopbackAddress(address, port);
  if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return -1;
  *server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  return fd;
}

inline std::string Endpoint(const char* address, uint16_t port) {
  return std::string(address) + ":" + std::to_string(port);
}

// The same over IPv6. A socket bound to :: with `v6only` false is dual-stack: it serves IPv4
// peers too, as IPv4-mapped addresses.

inline sockaddr_in6 Ipv6SocketAddress(const char* address, uint16_t port) {
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  inet_pton(AF_INET6, address, &sa.sin6_addr);
  sa.sin6_port = htons(port);
  return sa;
}

inline uint16_t LocalPortOf6(int fd) {
  sockaddr_in6 sa{};
  socklen_t length = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  return ntohs(sa.sin6_port);
}

inline int BoundSocket6(int type, const char* address, uint16_t* port, bool v6only = true) {
  const int fd = socket(AF_INET6, type | SOCK_CLOEXEC, 0);
  const int only = v6only ? 1 : 0;
  const sockaddr_in6 sa = Ipv6SocketAddress(address, 0);
  if (fd < 0 || setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only) != 0 ||
      bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    return -1;
  }
  *port = LocalPortOf6(fd);
  return fd;
}

inline int Listener6(const char* address, uint16_t* port, bool v6only = true) {
  const int fd = BoundSocket6(SOCK_STREAM, address, port, v6only);
  return (fd >= 0 && listen(fd, 16) == 0) ? fd : -1;
}

inline int Connect6(const char* from, int listener, const char* address, uint16_t port,
                    int* server) {
  uint16_t fromPort = 0;
  const int fd = BoundSocket6(SOCK_STREAM, from, &fromPort);
  const sockaddr_in6 sa = Ipv6SocketAddress(address, port);
  if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return -1;
  *server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  return fd;
}

inline std::string Endpoint6(const char* address, uint16_t port) {
  return "[" + std::string(address) + "]:" + std::to_string(port);
}
