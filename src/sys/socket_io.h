#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/ip_address.h"
#include "base/ipv4_text.h"

// The socket calls of the TCP and UDP terminals. Addresses are IPv4 in network byte order or
// IpAddress values of either family, ports in host byte order. Failures leave the errno in errno.

// -1 on failure.
int OpenTcpSocket(IpAddress::Family family = IpAddress::Family::kIpv4);
int OpenUdpSocket(IpAddress::Family family = IpAddress::Family::kIpv4);
void CloseSocket(int fd);

// inet_addr's reading of a dotted address; nothing for text it does not accept (and for
// 255.255.255.255, which it cannot tell from a failure).
std::optional<uint32_t> ParseDottedAddress(const std::string& text);
// An address typed where a host may be: a dotted address as inet_addr reads it, else an IPv6
// address as inet_pton reads it; nothing for a name.
std::optional<IpAddress> ParseHostAddress(const std::string& text);

bool BindSocket(int fd, uint32_t address, uint16_t port);
bool BindSocket(int fd, const IpAddress& address, uint16_t port);
// Binding a listening socket again soon after a connection on that port must not fail on
// connections still in TIME-WAIT; a port with a live listener still refuses.
bool AllowAddressReuse(int fd);
bool ListenOnSocket(int fd, int backlog);
// 0 when the connect completed or is under way, else the errno.
int StartConnect(int fd, uint32_t address, uint16_t port);
int StartConnect(int fd, const IpAddress& address, uint16_t port);

// The far end of a connection or the sender of a datagram; `known` is false when the system
// gave no IPv4 or IPv6 address for it.
struct PeerAddress {
  bool known = false;
  IpAddress address;
  uint16_t port = 0;
};
std::string PeerText(const PeerAddress& peer);  // "a.b.c.d", the IPv6 text or "Unknown"
// With its port: "a.b.c.d:port", "[addr]:port" or "Unknown:port".
std::string PeerEndpointText(const PeerAddress& peer);

// The accepted connection (non-blocking), or -1.
int AcceptConnection(int listener, PeerAddress* peer);

// The port a socket is bound to, or 0.
uint16_t BoundPort(int fd);

// Most bytes one read event takes off a stream socket; what is left is reported at once again.
inline constexpr size_t kReceiveLimit = 256 * 1024;

// Everything the stream socket holds now (up to kReceiveLimit), as one payload. `failed` when
// no byte came (the peer closed with nothing left, nothing was waiting) or a receive failed with
// anything other than "would block"; bytes that came before such a failure are kept.
struct Received {
  std::vector<uint8_t> bytes;
  bool failed = false;
};
Received ReceiveAvailable(int fd);

// One datagram into `buffer`. kDatagramWouldBlock when none waits; kDatagramFailed for any
// other failure, including a datagram longer than `capacity` (which is dropped whole).
inline constexpr ssize_t kDatagramWouldBlock = -1;
inline constexpr ssize_t kDatagramFailed = -2;
ssize_t ReceiveDatagram(int fd, uint8_t* buffer, size_t capacity, PeerAddress* from);

// One send that never blocks and never raises SIGPIPE: the count sent, or -1.
ssize_t SendBytes(int fd, const uint8_t* data, size_t length);
ssize_t SendDatagram(int fd, const uint8_t* data, size_t length, uint32_t address, uint16_t port);
ssize_t SendDatagram(int fd, const uint8_t* data, size_t length, const IpAddress& address,
                     uint16_t port);
