#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "sys/socket_address.h"
#include "sys/socket_io.h"

namespace {

PeerAddress PeerOf(const sockaddr_storage& sa, socklen_t length) {
  PeerAddress peer;
  if (const std::optional<AddressAndPort> found = ReadSocketAddress(sa, length)) {
    peer.known = true;
    peer.address = found->address;
    peer.port = found->port;
  }
  return peer;
}

int OpenSocket(IpAddress::Family family, int type, int protocol) {
  return socket(family == IpAddress::Family::kIpv4 ? AF_INET : AF_INET6, type | SOCK_CLOEXEC,
                protocol);
}

}  // namespace

int OpenTcpSocket(IpAddress::Family family) {
  return OpenSocket(family, SOCK_STREAM, IPPROTO_TCP);
}

int OpenUdpSocket(IpAddress::Family family) {
  return OpenSocket(family, SOCK_DGRAM, IPPROTO_UDP);
}

void CloseSocket(int fd) {
  if (fd >= 0) close(fd);
}

std::optional<uint32_t> ParseDottedAddress(const std::string& text) {
  const in_addr_t address = inet_addr(text.c_str());
  if (address == INADDR_NONE) return std::nullopt;
  return address;
}

std::optional<IpAddress> ParseHostAddress(const std::string& text) {
  if (const std::optional<uint32_t> ipv4 = ParseDottedAddress(text)) return IpAddress::Ipv4(*ipv4);
  return ParseIpv6Address(text);
}

std::string PeerText(const PeerAddress& peer) {
  return peer.known ? peer.address.text() : "Unknown";
}

std::string PeerEndpointText(const PeerAddress& peer) {
  return peer.known ? EndpointText(peer.address, peer.port)
                    : "Unknown:" + std::to_string(peer.port);
}

bool BindSocket(int fd, uint32_t address, uint16_t port) {
  return BindSocket(fd, IpAddress::Ipv4(address), port);
}

bool BindSocket(int fd, const IpAddress& address, uint16_t port) {
  const SocketAddress sa = MakeSocketAddress(address, port);
  return bind(fd, sa.get(), sa.length) == 0;
}

bool AllowAddressReuse(int fd) {
  const int on = 1;
  return setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool ListenOnSocket(int fd, int backlog) {
  return listen(fd, backlog) == 0;
}

int StartConnect(int fd, uint32_t address, uint16_t port) {
  return StartConnect(fd, IpAddress::Ipv4(address), port);
}

int StartConnect(int fd, const IpAddress& address, uint16_t port) {
  const SocketAddress sa = MakeSocketAddress(address, port);
  if (connect(fd, sa.get(), sa.length) == 0) return 0;
  return errno == EINPROGRESS ? 0 : errno;
}

int AcceptConnection(int listener, PeerAddress* peer) {
  sockaddr_storage sa{};
  socklen_t length = sizeof sa;
  const int fd =
      accept4(listener, reinterpret_cast<sockaddr*>(&sa), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd >= 0 && peer != nullptr) *peer = PeerOf(sa, length);
  return fd;
}

uint16_t BoundPort(int fd) {
  sockaddr_storage sa{};
  socklen_t length = sizeof sa;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0) return 0;
  return PeerOf(sa, length).port;
}

Received ReceiveAvailable(int fd) {
  Received got;
  uint8_t chunk[16384];
  while (got.bytes.size() < kReceiveLimit) {
    const size_t want = std::min(sizeof chunk, kReceiveLimit - got.bytes.size());
    const ssize_t n = recv(fd, chunk, want, MSG_DONTWAIT);
    if (n > 0) {
      try {
        got.bytes.insert(got.bytes.end(), chunk, chunk + n);
      } catch (const std::bad_alloc&) {
        got.bytes.clear();  // no memory for the payload: a failed read
        got.failed = true;
        return got;
      }
      continue;
    }
    if (n == 0) break;  // the peer closed: what came before it is still shown
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) break;
    got.failed = true;
    break;
  }
  if (got.bytes.empty()) got.failed = true;
  return got;
}

ssize_t ReceiveDatagram(int fd, uint8_t* buffer, size_t capacity, PeerAddress* from) {
  sockaddr_storage sa{};
  iovec io{buffer, capacity};
  msghdr msg{};
  msg.msg_name = &sa;
  msg.msg_namelen = sizeof sa;
  msg.msg_iov = &io;
  msg.msg_iovlen = 1;
  const ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT);
  if (n < 0)
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? kDatagramWouldBlock : kDatagramFailed;
  if (msg.msg_flags & MSG_TRUNC) return kDatagramFailed;
  if (from != nullptr) *from = PeerOf(sa, msg.msg_namelen);
  return n;
}

ssize_t SendBytes(int fd, const uint8_t* data, size_t length) {
  return send(fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
}

ssize_t SendDatagram(int fd, const uint8_t* data, size_t length, uint32_t address, uint16_t port) {
  return SendDatagram(fd, data, length, IpAddress::Ipv4(address), port);
}

ssize_t SendDatagram(int fd, const uint8_t* data, size_t length, const IpAddress& address,
                     uint16_t port) {
  const SocketAddress sa = MakeSocketAddress(address, port);
  return sendto(fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL, sa.get(), sa.length);
}
