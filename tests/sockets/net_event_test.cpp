#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "socket_peer.h"
#include "sys/local_addresses.h"
#include "sys/net_event.h"
#include "sys/socket_io.h"
#include "test_util.h"

namespace {

constexpr uint32_t kAllTcp = kNetRead | kNetWrite | kNetAccept | kNetConnect | kNetClose;
const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// A descriptor closed when the test is done with it.
struct Fd {
  int fd = -1;
  explicit Fd(int f = -1) : fd(f) {}
  ~Fd() { CloseSocket(fd); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  operator int() const { return fd; }
};

// A listening socket on a system-chosen loopback port.
int Listener(uint16_t* port) {
  const int fd = OpenTcpSocket();
  EXPECT_TRUE(BindSocket(fd, kLoopback, 0));
  EXPECT_TRUE(ListenOnSocket(fd, 5));
  *port = BoundPort(fd);
  return fd;
}

// The next events, or none when nothing comes within `ms`.
NetEvents Next(NetEvent& event, int ms = 5000) {
  if (!event.wait(ms)) return {};
  return event.take();
}

// Waits until poll reports one of `events` on the socket, which takes nothing from it.
bool Polled(int fd, short events) {
  pollfd p{fd, events, 0};
  return poll(&p, 1, 5000) == 1 && (p.revents & events) != 0;
}

// A connected pair: `client` selected on `event` with its connect and first write taken.
struct Connection {
  uint16_t port = 0;
  Fd listener{Listener(&port)};
  Fd client{OpenTcpSocket()};
  NetEvent event;
  Fd server;

  Connection() {
    event.select(client, kAllTcp);
    EXPECT_EQ(StartConnect(client, kLoopback, port), 0);
    event.connectStarted();
    const NetEvents first = Next(event);
    EXPECT_EQ(first.events, kNetConnect | kNetWrite);
    EXPECT_EQ(first.connectError, 0);
    server.fd = accept(listener, nullptr, nullptr);
  }
};

}  // namespace

TEST(NetEvent, ConnectAndWriteComeOnceThenNothing) {
  Connection c;
  EXPECT_EQ(Next(c.event, 100).events, 0u);  // poll's POLLOUT stays, the event does not
}

TEST(NetEvent, DataAlreadyWaitingComesAfterTheConnect) {
  uint16_t port = 0;
  Fd listener(Listener(&port));
  Fd client(OpenTcpSocket());
  NetEvent event;
  event.select(client, kAllTcp);
  ASSERT_EQ(StartConnect(client, kLoopback, port), 0);
  event.connectStarted();
  Fd server(accept(listener, nullptr, nullptr));
  ASSERT_EQ(send(server, "220 ready\r\n", 11, 0), 11);  // a greeting sent at once
  ASSERT_TRUE(Polled(client, POLLIN));
  EXPECT_EQ(Next(event).events, kNetConnect | kNetWrite);
  EXPECT_EQ(Next(event).events, kNetRead);
}

TEST(NetEvent, RefusedConnectIsTheConnectEventsError) {
  const uint16_t port = FreeTcpPort();
  Fd client(OpenTcpSocket());
  NetEvent event;
  event.select(client, kAllTcp);
  const int error = StartConnect(client, kLoopback, port);
  ASSERT_TRUE(error == 0 || error == ECONNREFUSED);
  event.connectStarted(error);
  const NetEvents events = Next(event);
  EXPECT_EQ(events.events, kNetConnect);
  EXPECT_EQ(events.connectError, ECONNREFUSED);
  EXPECT_EQ(Next(event, 100).events, 0u);
}

TEST(NetEvent, ReadWhileDataWaitsAndCloseOnlyAfterItIsDrained) {
  Connection c;
  ASSERT_EQ(send(c.server, "abc", 3, 0), 3);
  shutdown(c.server, SHUT_WR);
  EXPECT_TRUE(WaitUntil([&] { return c.event.wait(0); }));
  EXPECT_EQ(Next(c.event).events, kNetRead);
  EXPECT_EQ(Next(c.event).events, kNetRead);  // still there: reported again
  const Received got = ReceiveAvailable(c.client);
  EXPECT_EQ(std::string(got.bytes.begin(), got.bytes.end()), "abc");
  EXPECT_FALSE(got.failed);
  const NetEvents closing = Next(c.event);
  EXPECT_EQ(closing.events, kNetClose);
  EXPECT_EQ(closing.closeError, 0);
  EXPECT_EQ(Next(c.event, 100).events, 0u);  // once
}

TEST(NetEvent, ResetIsACloseWithItsError) {
  Connection c;
  const linger hard{1, 0};
  setsockopt(c.server, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(c.server.fd);
  c.server.fd = -1;
  const NetEvents events = Next(c.event);
  EXPECT_EQ(events.events, kNetClose);
  EXPECT_EQ(events.closeError, ECONNRESET);
}

TEST(NetEvent, AcceptWhileAConnectionWaits) {
  Fd listener(OpenTcpSocket());
  NetEvent event;
  event.select(listener, kAllTcp);  // selected before it listens, as the worker does
  ASSERT_TRUE(BindSocket(listener, kLoopback, 0));
  ASSERT_TRUE(ListenOnSocket(listener, 5));
  event.listenStarted();
  EXPECT_EQ(Next(event, 100).events, 0u);

  Fd client(OpenTcpSocket());
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = kLoopback;
  to.sin_port = htons(BoundPort(listener));
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  EXPECT_EQ(Next(event).events, kNetAccept);

  PeerAddress peer;
  Fd accepted(AcceptConnection(listener, &peer));
  ASSERT_GE(accepted.fd, 0);
  EXPECT_EQ(PeerText(peer), "127.0.0.1");
  EXPECT_EQ(peer.port, BoundPort(client));
  // The accepted socket, selected in its place, can send at once.
  event.select(accepted, kAllTcp);
  event.accepted();
  EXPECT_EQ(Next(event).events, kNetWrite);
  EXPECT_EQ(Next(event, 100).events, 0u);
}

// A listening run must end when its client resets the connection before it is accepted:
// accept() still hands the connection over, but the system no longer knows its peer.
TEST(NetEvent, AConnectionResetBeforeItsAcceptIsAClose) {
  uint16_t port = 0;
  Fd listener(Listener(&port));
  Fd client(OpenTcpSocket());
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = kLoopback;
  to.sin_port = htons(port);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  const linger hard{1, 0};
  setsockopt(client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(client.fd);
  client.fd = -1;
  // The reset has reached the server side once no connection on the port is left but the
  // one in the accept queue, which the system has closed.
  const std::string connected =
      "ss -Htn state connected '( sport = :" + std::to_string(port) + " )'";
  ASSERT_TRUE(WaitUntil([&] { return RunCommand(connected).empty(); }));

  Fd accepted(AcceptConnection(listener, nullptr));
  ASSERT_GE(accepted.fd, 0);
  NetEvent event;
  event.select(accepted, kAllTcp);
  event.accepted();
  const NetEvents events = Next(event);
  EXPECT_EQ(events.events, kNetClose);
  EXPECT_EQ(events.closeError, ECONNRESET);
}

TEST(NetEvent, WriteComesAgainOnlyAfterABlockedSend) {
  Connection c;
  const std::vector<uint8_t> block(65536, 'x');
  ssize_t sent = 0;
  while ((sent = SendBytes(c.client, block.data(), block.size())) > 0) {
  }
  ASSERT_EQ(errno, EAGAIN);
  c.event.sendBlocked();
  EXPECT_EQ(Next(c.event).events, 0u);  // woken, but it cannot send yet
  std::vector<uint8_t> sink(1 << 20);
  while (recv(c.server, sink.data(), sink.size(), MSG_DONTWAIT) > 0) {
  }
  EXPECT_EQ(Next(c.event).events, kNetWrite);
}

TEST(NetEvent, SignalWakesTheWaitUntilTaken) {
  NetEvent event;
  ASSERT_TRUE(event.valid());
  EXPECT_FALSE(event.wait(20));
  event.signal();
  EXPECT_TRUE(event.wait(0));
  EXPECT_TRUE(event.wait(0));  // stays signalled
  EXPECT_EQ(event.take().events, 0u);
  EXPECT_FALSE(event.wait(20));
}

TEST(NetEvent, DatagramsAreReportedOnePerRemainingDatagram) {
  Fd receiver(OpenUdpSocket());
  ASSERT_TRUE(BindSocket(receiver, kLoopback, 0));
  NetEvent event;
  event.select(receiver, kNetRead | kNetClose);
  Fd sender(OpenUdpSocket());
  const uint16_t port = BoundPort(receiver);
  const std::vector<uint8_t> whole(2000, 'w'), longer(2001, 'l'), none;
  for (const auto* d : {&whole, &longer, &none}) {
    ASSERT_EQ(SendDatagram(sender, d->data(), d->size(), kLoopback, port), ssize_t(d->size()));
  }
  std::vector<uint8_t> buffer(2000);
  PeerAddress from;
  EXPECT_EQ(Next(event).events, kNetRead);
  EXPECT_EQ(ReceiveDatagram(receiver, buffer.data(), buffer.size(), &from), 2000);
  EXPECT_EQ(PeerText(from), "127.0.0.1");
  EXPECT_EQ(from.port, BoundPort(sender));
  EXPECT_EQ(Next(event).events, kNetRead);
  EXPECT_EQ(ReceiveDatagram(receiver, buffer.data(), buffer.size(), &from), kDatagramFailed);
  EXPECT_EQ(Next(event).events, kNetRead);  // the too-long one was dropped whole
  EXPECT_EQ(ReceiveDatagram(receiver, buffer.data(), buffer.size(), &from), 0);
  EXPECT_EQ(Next(event, 100).events, 0u);
  EXPECT_EQ(ReceiveDatagram(receiver, buffer.data(), buffer.size(), &from), kDatagramWouldBlock);
}

TEST(ReceiveAvailable, DrainsTheSocketInPiecesOfAtMostTheLimit) {
  Connection c;
  const std::string big(kReceiveLimit + 1000, 'b');
  size_t sent = 0;
  while (sent < big.size()) {
    const ssize_t n = send(c.server, big.data() + sent, big.size() - sent, 0);
    ASSERT_GT(n, 0);
    sent += size_t(n);
  }
  close(c.server.fd);
  c.server.fd = -1;
  std::string got;
  ASSERT_TRUE(WaitUntil(
      [&] {
        const Received r = ReceiveAvailable(c.client);
        EXPECT_LE(r.bytes.size(), kReceiveLimit);
        got.append(r.bytes.begin(), r.bytes.end());
        return got.size() == big.size();
      },
      3000));
  EXPECT_EQ(got, big);
  // The peer has closed and nothing is left: a read that yields nothing fails.
  EXPECT_TRUE(ReceiveAvailable(c.client).failed);
}

TEST(ReceiveAvailable, KeepsWhatCameBeforeAReset) {
  Connection c;
  ASSERT_EQ(send(c.server, "kept", 4, 0), 4);
  EXPECT_TRUE(WaitUntil([&] { return c.event.wait(0); }));
  const linger hard{1, 0};
  setsockopt(c.server, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(c.server.fd);
  c.server.fd = -1;
  ASSERT_TRUE(Polled(c.client, POLLERR));
  const Received got = ReceiveAvailable(c.client);
  EXPECT_TRUE(got.failed);
  EXPECT_EQ(std::string(got.bytes.begin(), got.bytes.end()), "kept");
}

TEST(SocketCalls, DottedAddressesAsInetAddrReadsThem) {
  EXPECT_EQ(ParseDottedAddress("127.0.0.1"), kLoopback);
  EXPECT_EQ(ParseDottedAddress("127.1"), kLoopback);
  EXPECT_FALSE(ParseDottedAddress("localhost").has_value());
  EXPECT_FALSE(ParseDottedAddress("").has_value());
  EXPECT_FALSE(ParseDottedAddress("255.255.255.255").has_value());
  EXPECT_EQ(PeerText(PeerAddress{}), "Unknown");
}

TEST(LocalAddressList, IsWhatTheSystemListsUpWithLoopbackLast) {
  const std::vector<std::string> others = LocalAddressesAsIpListsThem();
  ASSERT_FALSE(others.empty());
  const LocalAddressList list;
  std::vector<std::string> listed;
  for (int i = 0; i < list.LocalAddressCount(); ++i) {
    listed.push_back(DottedAddress(list.LocalAddressAt(i)));
  }
  EXPECT_EQ(listed, others);
  EXPECT_EQ(list.LocalAddressAt(list.LocalAddressCount()), 0u);
  EXPECT_EQ(list.LocalAddressAt(-1), 0u);
}
