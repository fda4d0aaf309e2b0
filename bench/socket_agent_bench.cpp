// The TCP terminal's sessions through pelorin-agent over pipes beside the same sessions in this
// process, in one run: a 100 MiB upload to a loopback peer that reads everything, and the
// keystroke round trip (one byte out, the peer's echo of it back).
//
//   build/default/bench/socket_agent_bench [megabytes] [keystrokes]   (default 100 and 2000)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/agent_host.h"
#include "host/host.h"
#include "host/local_services.h"
#include "sockets/socket_service.h"

namespace {

using Clock = std::chrono::steady_clock;

// A side that cannot run ends the benchmark: no figure is printed from a failed measurement.
[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "socket_agent_bench: %s\n", why.c_str());
  std::exit(1);
}

// A loopback listener for one connection that either reads and counts everything or echoes it.
class Peer {
 public:
  explicit Peer(bool echo) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof sa;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
      Fail("no loopback listener");
    }
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this, echo] {
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      std::vector<char> buffer(1 << 16);
      for (;;) {
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        received_ += uint64_t(n);
        if (echo && send(fd, buffer.data(), size_t(n), MSG_NOSIGNAL) != n) break;
      }
      close(fd);
    });
  }
  ~Peer() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }
  uint16_t port() const { return port_; }
  uint64_t received() const { return received_; }

 private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<uint64_t> received_{0};
  std::thread thread_;
};

const IpAddress kLoopback = IpAddress::Ipv4(htonl(INADDR_LOOPBACK));

// A connected session, after its connect and write events.
std::unique_ptr<SocketSession> Connect(SocketService& service, uint16_t port,
                                       const RunToken& token) {
  SocketOpening opening = service.connectTcp(kLoopback, port, token);
  if (!opening.session) Fail("the connect failed: " + std::to_string(opening.error));
  bool connected = false, writable = false;
  SocketUpdate update;
  while (!(connected && writable)) {
    if (!opening.session->wait(update, token)) Fail("the session ended before it connected");
    if (update.connectError != 0) Fail("the connect was refused");
    connected |= update.has(kSocketConnect);
    writable |= update.has(kSocketWrite);
  }
  return std::move(opening.session);
}

// Seconds until the peer has read `total` bytes, sent as the pane sends: a send that cannot take
// everything waits for the write event.
double Upload(SocketService& service, uint64_t total) {
  Peer peer(false);
  const RunTokenPtr token = NewRunToken();
  std::unique_ptr<SocketSession> session = Connect(service, peer.port(), *token);
  const std::vector<uint8_t> chunk(64 * 1024, 'u');
  const Clock::time_point start = Clock::now();
  uint64_t sent = 0;
  SocketUpdate update;
  while (sent < total) {
    const std::vector<uint8_t> piece(
        chunk.begin(), chunk.begin() + long(std::min<uint64_t>(chunk.size(), total - sent)));
    const SocketSent result = session->send(piece);
    if (result.sent > 0) sent += uint64_t(result.sent);
    if (result.sent == static_cast<long long>(piece.size())) continue;
    if (result.sent < 0 && result.error != EAGAIN) Fail("a send failed");
    session->sendBlocked();
    do {
      if (!session->wait(update, *token)) Fail("the session ended during the upload");
      if (update.has(kSocketClose)) Fail("the peer closed during the upload");
    } while (!update.has(kSocketWrite));
  }
  while (peer.received() < total) {
    if (Clock::now() - start > std::chrono::seconds(300)) Fail("the upload did not arrive");
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  session->close();
  return seconds;
}

// Microseconds per keystroke round trip: the median and the 99th percentile.
std::pair<double, double> Keystrokes(SocketService& service, int count) {
  Peer peer(true);
  const RunTokenPtr token = NewRunToken();
  std::unique_ptr<SocketSession> session = Connect(service, peer.port(), *token);
  std::vector<double> times;
  SocketUpdate update;
  for (int i = 0; i < count; ++i) {
    const std::vector<uint8_t> key{uint8_t('a' + i % 26)};
    const Clock::time_point start = Clock::now();
    if (session->send(key).sent != 1) Fail("a keystroke was not taken");
    size_t got = 0;
    while (got < 1) {
      if (!session->wait(update, *token)) Fail("the session ended during the keystrokes");
      if (update.has(kSocketRead)) {
        if (update.bytes != key) Fail("the echo was not the keystroke");
        got += update.bytes.size();
      }
    }
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  session->close();
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times[times.size() * 99 / 100]};
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100;
  const int keystrokes = argc > 2 ? std::atoi(argv[2]) : 2000;
  if (megabytes == 0 || keystrokes <= 0) Fail("usage: socket_agent_bench [megabytes] [keystrokes]");
  const uint64_t total = megabytes << 20;

  std::unique_ptr<SocketService> local = NewLocalSocketService();
  std::string failure;
  std::unique_ptr<Host> agent = ConnectAgent({PELORIN_AGENT_PATH}, &failure);
  if (!agent) Fail("the agent did not answer: " + failure);

  std::printf("TCP session, %llu MiB upload to a loopback peer:\n",
              static_cast<unsigned long long>(megabytes));
  const double here = Upload(*local, total);
  const double there = Upload(agent->sockets(), total);
  const double mib = double(megabytes);
  std::printf("  %-28s %8.3f s %9.1f MiB/s\n", "in process", here, mib / here);
  std::printf("  %-28s %8.3f s %9.1f MiB/s  (%.2fx in process)\n", "through the agent", there,
              mib / there, there / here);

  std::printf("Keystroke round trip (%d, one byte each way), median / 99th percentile:\n",
              keystrokes);
  const auto [hereMedian, here99] = Keystrokes(*local, keystrokes);
  const auto [thereMedian, there99] = Keystrokes(agent->sockets(), keystrokes);
  std::printf("  %-28s %8.1f us %8.1f us\n", "in process", hereMedian, here99);
  std::printf("  %-28s %8.1f us %8.1f us\n", "through the agent", thereMedian, there99);
  return 0;
}
