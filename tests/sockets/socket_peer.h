#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "test_util.h"

// socat as the far end of a test: its standard input and output are pipes the test holds, so
// the test writes what socat sends and reads what socat received. Ended by its pid.
class SocatPeer {
 public:
  explicit SocatPeer(const std::vector<std::string>& addresses);
  ~SocatPeer();
  SocatPeer(const SocatPeer&) = delete;
  SocatPeer& operator=(const SocatPeer&) = delete;

  void write(const std::string& bytes);
  void closeInput();  // socat then shuts its side down
  // Everything received so far (serves the event loop while it reads).
  const std::string& output();
  bool waitForOutput(size_t bytes, int timeoutMs = 5000);
  bool running();
  // Waits for socat to end by itself; its exit status, or -1 on time-out.
  int waitExit(int timeoutMs = 5000);

 private:
  int pid_ = -1;
  int status_ = -1;
  int input_ = -1;
  int outputFd_ = -1;
  std::string received_;
};

// A loopback port nothing uses at the moment (the system picks it).
uint16_t FreeTcpPort();
uint16_t FreeUdpPort();

// Sockets of the test's own on 127.0.0.1 and a port the system picks (written to `port`): a TCP
// listener (with a receive buffer of that size when given) and a bound UDP socket.
int LoopbackListener(uint16_t* port, int receiveBuffer = 0);
int LoopbackUdpSocket(uint16_t* port);

// Waits until something listens on 127.0.0.1:port (TCP) or is bound there (UDP).
bool WaitForTcpListener(uint16_t port, int timeoutMs = 5000);
bool WaitForUdpSocket(uint16_t port, int timeoutMs = 5000);
// The same on [::1]:port, or with `anyAddress` on [::]:port.
bool WaitForTcp6Listener(uint16_t port, bool anyAddress = false, int timeoutMs = 5000);
bool WaitForUdp6Socket(uint16_t port, int timeoutMs = 5000);

// The IPv4 addresses of the interfaces that are up, as `ip -o -4 addr show up` lists them in the
// calling thread's network namespace: by interface index, those of loopback moved last. Empty
// when `ip` fails.
std::vector<std::string> LocalAddressesAsIpListsThem();
// Those, then the IPv6 addresses of the same interfaces in the same order (`ip -o -6 addr show
// up`), link-local ones left out: the whole local address list.
std::vector<std::string> LocalAddressListAsIpListsIt();

// A name server of the test's on 127.0.53.7 that holds every question until the test answers
// it, with the system resolver pointed at it through a private resolv.conf (FileShownAt). Its
// end waits, serving events, for the threads started meanwhile, which share that view of the
// files. Needs root.
class HeldNameServer {
 public:
  HeldNameServer();
  ~HeldNameServer();
  HeldNameServer(const HeldNameServer&) = delete;
  HeldNameServer& operator=(const HeldNameServer&) = delete;

  bool ready() const { return fd_ >= 0 && resolver_ && resolver_->shown(); }
  // Reads the questions that have come; true once `count` have.
  bool questionsCame(size_t count);
  // Answers every question read: an A question with 127.0.0.1, any other with no record.
  void answerAll();

 private:
  struct Question {
    std::vector<uint8_t> bytes;
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
  };
  int fd_ = -1;
  size_t threads_ = 0;
  TempDir dir_;
  std::unique_ptr<FileShownAt> resolver_;
  std::vector<Question> questions_;
};

// Puts the calling thread into a new, empty network namespace (loopback down, no routes) until
// the object goes; threads it starts meanwhile (a pane's worker) are born there too. The
// namespace has no name: it goes with its last user, also when a test fails. Needs root.
class FreshNetworkNamespace {
 public:
  FreshNetworkNamespace();
  ~FreshNetworkNamespace();
  FreshNetworkNamespace(const FreshNetworkNamespace&) = delete;
  FreshNetworkNamespace& operator=(const FreshNetworkNamespace&) = delete;

  bool entered() const { return entered_; }
  // Runs a shell command inside the namespace; true when it succeeded.
  bool run(const std::string& command);

 private:
  int home_ = -1;
  bool entered_ = false;
};
