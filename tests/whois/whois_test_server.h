#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// How the test server answers each connection after it has read the request line.
struct WhoisServerScript {
  std::vector<std::string> pieces;  // sent in order, one send each
  int pauseMs = 0;                  // between pieces
  enum class End {
    Close,    // close the connection
    Reset,    // abort it (RST)
    Hold,     // keep it open, silent, until the client goes
    Endless,  // keep sending pieces[0] until the client goes
  } end = End::Close;
};

// A whois server the test runs on a loopback address (IPv4 or ::1), port 43. One connection at a
// time.
class TestWhoisServer {
 public:
  TestWhoisServer(const std::string& address, WhoisServerScript script);
  ~TestWhoisServer();
  TestWhoisServer(const TestWhoisServer&) = delete;
  TestWhoisServer& operator=(const TestWhoisServer&) = delete;

  // False when port 43 could not be bound (it needs root).
  bool listening() const { return listenFd_ >= 0; }
  std::vector<std::string> requests() const;
  size_t requestCount() const;
  // Connections whose client closed while the server held them open or kept sending.
  int clientsGone() const { return clientsGone_.load(); }

 private:
  void serve();
  void handle(int fd);
  bool readRequest(int fd, std::string& request);
  bool waitFor(int fd, short events, int timeoutMs);

  WhoisServerScript script_;
  int listenFd_ = -1;
  int stopFd_ = -1;
  std::atomic<int> clientsGone_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};
