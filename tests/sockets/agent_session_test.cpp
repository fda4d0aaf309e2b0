#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/agent_host.h"
#include "host/host.h"
#include "socket_peer.h"
#include "sockets/socket_service.h"

namespace {

using Clock = std::chrono::steady_clock;

const IpAddress kLoopback = IpAddress::Ipv4(htonl(0x7F000001));

// A connected session, after its connect and write events; null when they did not come.
std::unique_ptr<SocketSession> Connect(SocketService& service, uint16_t port,
                                       const RunToken& token) {
  SocketOpening opening = service.connectTcp(kLoopback, port, token);
  if (!opening.session) return nullptr;
  uint32_t seen = 0;
  SocketUpdate update;
  while ((seen & (kSocketConnect | kSocketWrite)) != (kSocketConnect | kSocketWrite)) {
    if (!opening.session->wait(update, token) || update.connectError != 0) return nullptr;
    seen |= update.events;
  }
  return std::move(opening.session);
}

}  // namespace

// Through the agent, a session whose peer reads nothing fills its channel until a send is
// refused at once; meanwhile a keystroke on another session still comes back, and the blocked
// one's write event comes once its peer has read what waited.
TEST(AgentSockets, ABlockedUploadNeitherWaitsNorDelaysAnotherSession) {
  std::string failure;
  std::unique_ptr<Host> agent = ConnectAgent({PELORIN_AGENT_PATH}, &failure);
  ASSERT_NE(agent, nullptr) << failure;
  SocketService& sockets = agent->sockets();
  const RunTokenPtr token = NewRunToken();
  // A wait that never ends fails the test instead: every wait ends after ten seconds.
  std::thread watchdog([token, until = Clock::now() + std::chrono::seconds(10)] {
    while (!token->cancelled() && Clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    token->cancel();
  });

  uint16_t stuckPort = 0;
  const int stuckListener = LoopbackListener(&stuckPort, 4096);
  std::unique_ptr<SocketSession> upload = Connect(sockets, stuckPort, *token);
  ASSERT_NE(upload, nullptr);
  const int stuck = accept(stuckListener, nullptr, nullptr);
  const std::vector<uint8_t> chunk(64 * 1024, 'u');
  int sends = 0;
  SocketSent sent;
  while ((sent = upload->send(chunk)).sent > 0 && sends < 10000) ++sends;
  ASSERT_EQ(sent.error, EAGAIN) << sends << " sends";
  upload->sendBlocked();

  uint16_t echoPort = 0;
  const int echoListener = LoopbackListener(&echoPort);
  std::thread echoing([&] {
    const int fd = accept(echoListener, nullptr, nullptr);
    char byte = 0;
    while (recv(fd, &byte, 1, 0) == 1 && send(fd, &byte, 1, MSG_NOSIGNAL) == 1) {
    }
    close(fd);
  });
  std::unique_ptr<SocketSession> keys = Connect(sockets, echoPort, *token);
  ASSERT_NE(keys, nullptr);
  const Clock::time_point start = Clock::now();
  ASSERT_EQ(keys->send({'k'}).sent, 1);
  SocketUpdate update;
  ASSERT_TRUE(keys->wait(update, *token));
  EXPECT_EQ(update.bytes, std::vector<uint8_t>{'k'});
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  keys->close();
  echoing.join();

  std::thread draining([&] {
    std::vector<char> sink(1 << 16);
    while (recv(stuck, sink.data(), sink.size(), 0) > 0) {
    }
  });
  do {
    ASSERT_TRUE(upload->wait(update, *token));
  } while (!update.has(kSocketWrite));
  upload->close();
  draining.join();
  close(stuck);
  close(stuckListener);
  close(echoListener);
  token->cancel();
  watchdog.join();
}
