#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/ip_address.h"
#include "sys/name_service.h"
#include "sys/run_token.h"

// What the TCP Socket and UDP Socket panes ask of the host they inspect: its local address list,
// and sockets as sessions (a TCP connection or listener, a bound UDP socket). Ports are in host
// byte order, errors errno values.

// The events of a session, as bits, in the order a terminal handles them.
inline constexpr uint32_t kSocketRead = 0x01;     // data came (a stream's bytes, a datagram)
inline constexpr uint32_t kSocketWrite = 0x02;    // the session can send (again)
inline constexpr uint32_t kSocketAccept = 0x08;   // a connection came to a listener
inline constexpr uint32_t kSocketConnect = 0x10;  // an outgoing connect has completed
inline constexpr uint32_t kSocketClose = 0x20;    // the peer has closed or reset the connection

// The far end of a connection or the sender of a datagram; `known` is false when the host gave
// no IPv4 or IPv6 address for it.
struct SocketPeer {
  bool known = false;
  IpAddress address;
  uint16_t port = 0;
};

// Most bytes one read event of a stream hands over; what is left comes with the next one.
inline constexpr size_t kSocketReceiveLimit = 256 * 1024;
// The longest datagram a UDP session hands over; longer ones are dropped whole.
inline constexpr size_t kDatagramLimit = 2000;

// What happened on a session since its last wait. Each event has its own error (0 for none):
//   read     while data waits: a stream's bytes (all it holds, up to kSocketReceiveLimit), or one
//            datagram with its sender in `peer`; `readFailed` when a stream gave no byte (the
//            peer closed with nothing left) or its receive failed (bytes before the failure are
//            kept), or a datagram was dropped (too long, empty, an error report of an earlier
//            send); neither bytes nor `readFailed` when the datagram went before it was taken;
//   write    once when a connection is made, and again only after sendBlocked();
//   accept   a listener took its one connection in place of itself, its far end in `peer`;
//            `acceptFailed` when it could not;
//   connect  once, with the connect's outcome;
//   close    once, when the peer has shut down and no data is left, or the connection was reset.
struct SocketUpdate {
  uint32_t events = 0;
  int readError = 0;
  int writeError = 0;
  int acceptError = 0;
  int connectError = 0;
  int closeError = 0;
  std::vector<uint8_t> bytes;
  bool readFailed = false;
  bool acceptFailed = false;
  SocketPeer peer;

  bool has(uint32_t event) const { return (events & event) != 0; }
};

// "a.b.c.d:port", "[addr]:port" or "Unknown:port".
inline std::string SocketPeerText(const SocketPeer& peer) {
  return peer.known ? EndpointText(peer.address, peer.port)
                    : "Unknown:" + std::to_string(peer.port);
}

// One send that never waits: the count taken (all of it, part, or -1 with the errno in `error`;
// EAGAIN when the session cannot take more now).
struct SocketSent {
  long long sent = -1;
  int error = 0;
};

// One socket of a host, open from its opening until close() or the destructor, which end it.
// wait() and close() are its worker's; send(), sendTo() and sendBlocked() may come from any
// thread.
class SocketSession {
 public:
  virtual ~SocketSession() = default;

  // Waits for the next events: true with them in `update`; false when `token` was cancelled
  // (at once), the wait failed, or the host went.
  virtual bool wait(SocketUpdate& update, const RunToken& token) = 0;

  // A connection's send; EBADF once the session is closed.
  virtual SocketSent send(const std::vector<uint8_t>& data) = 0;
  // A UDP session's datagram to `address` and `port`.
  virtual SocketSent sendTo(const std::vector<uint8_t>& data, const IpAddress& address,
                            uint16_t port) = 0;
  // A send could not take all its data: report write again once the session can send.
  virtual void sendBlocked() = 0;

  virtual void close() = 0;
};

// The step of an opening that failed.
enum class SocketStep : uint8_t {
  kNone = 0,
  kCreate = 1,   // no socket could be made
  kEvent = 2,    // the session's event could not be made
  kBind = 3,     // the address or port could not be bound
  kListen = 4,   // the socket could not listen
  kConnect = 5,  // the connect failed at once, for another reason than the peer's refusal or
                 // a missing route (those come as the connect event's error)
};

// A session opened, or the step that failed with its errno.
struct SocketOpening {
  std::unique_ptr<SocketSession> session;
  SocketStep failed = SocketStep::kNone;
  int error = 0;
  uint16_t boundPort = 0;  // a UDP session's local port (the system's choice for port 0)
};

class SocketService : public NameService {
 public:
  // The local address list of the host as the panes offer it: the IPv4 addresses of the
  // interfaces that are up, then their IPv6 ones, each in interface order, loopback last.
  virtual std::vector<IpAddress> localAddresses() = 0;

  // Each opening takes no time on this computer; a host that does not answer a run that was
  // stopped (`token` cancelled) meanwhile ends it with no session and no failed step.
  // A TCP listener on `address` and `port` for one connection (a port still in TIME-WAIT binds
  // again; a live listener's does not).
  virtual SocketOpening listenTcp(const IpAddress& address, uint16_t port,
                                  const RunToken& token) = 0;
  // A TCP connect to `address` and `port`, started: its outcome comes as the connect event.
  virtual SocketOpening connectTcp(const IpAddress& address, uint16_t port,
                                   const RunToken& token) = 0;
  // A UDP socket bound to `address` and `port` (0: the system chooses).
  virtual SocketOpening bindUdp(const IpAddress& address, uint16_t port, const RunToken& token) = 0;
};
