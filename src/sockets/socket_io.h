#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shell/ipv4_text.h"

// The socket calls of the TCP and UDP terminals. Addresses are IPv4 in network byte order,
// ports in host byte order. Failures leave the errno in errno.

int OpenTcpSocket();  // -1 on failure
int OpenUdpSocket();
void CloseSocket(int fd);

// inet_addr's reading of a dotted address; nothing for text it does not accept (and for
// 255.255.255.255, which it cannot tell from a failure).
std::optional<uint32_t> ParseDottedAddress(const std::string& text);

bool BindSocket(int fd, uint32_t address, uint16_t port);
// Binding a listening socket again soon after a connection on that port must not fail on
// connections still in TIME-WAIT; a port with a live listener still refuses.
bool AllowAddressReuse(int fd);
bool ListenOnSocket(int fd, int backlog);
// 0 when the connect completed or is under way, else the errno.
int StartConnect(int fd, uint32_t address, uint16_t port);

// The far end of a connection or the sender of a datagram; `known` is false when the system
// gave no IPv4 address for it.
struct PeerAddress {
  bool known = false;
  uint32_t address = 0;
  uint16_t port = 0;
};
std::string PeerText(const PeerAddress& peer);  // "a.b.c.d" or "Unknown"

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
