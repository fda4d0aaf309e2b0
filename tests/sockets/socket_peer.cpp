#include "socket_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "test_util.h"

SocatPeer::SocatPeer(const std::vector<std::string>& addresses) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
  std::vector<std::string> argv = {"socat", "-b", "65536"};
  argv.insert(argv.end(), addresses.begin(), addresses.end());
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  input_ = in[1];
  outputFd_ = out[0];
  fcntl(outputFd_, F_SETFL, O_NONBLOCK);
}

SocatPeer::~SocatPeer() {
  closeInput();
  if (running()) {
    kill(pid_, SIGTERM);
    if (waitExit(2000) == -1 && pid_ > 0) {
      kill(pid_, SIGKILL);
      waitExit(2000);
    }
  }
  if (outputFd_ >= 0) close(outputFd_);
}

void SocatPeer::write(const std::string& bytes) {
  size_t done = 0;
  while (input_ >= 0 && done < bytes.size()) {
    const ssize_t n = ::write(input_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += size_t(n);
  }
}

void SocatPeer::closeInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

const std::string& SocatPeer::output() {
  char buffer[65536];
  ssize_t n;
  while (outputFd_ >= 0 && (n = read(outputFd_, buffer, sizeof buffer)) > 0) {
    received_.append(buffer, size_t(n));
  }
  return received_;
}

bool SocatPeer::waitForOutput(size_t bytes, int timeoutMs) {
  return WaitUntil([&] { return output().size() >= bytes; }, timeoutMs);
}

bool SocatPeer::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return false;
  }
  return true;
}

int SocatPeer::waitExit(int timeoutMs) {
  if (!WaitUntil([&] { return !running(); }, timeoutMs)) return -1;
  return status_;
}

namespace {

// A socket bound to 127.0.0.1 and a port the system picks.
int BoundLoopbackSocket(int type, uint16_t* port, int receiveBuffer = 0) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (receiveBuffer > 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof sa;
  *port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) == 0) {
    *port = ntohs(sa.sin_port);
  }
  return fd;
}

uint16_t FreePort(int type) {
  uint16_t port = 0;
  close(BoundLoopbackSocket(type, &port));
  return port;
}

// /proc's texts of 127.0.0.1, ::1 and ::, each word of the address in the machine's order.
constexpr const char* kProcLoopback = "0100007F";
constexpr const char* kProcIpv6Loopback = "00000000000000000000000001000000";
constexpr const char* kProcIpv6Any = "00000000000000000000000000000000";

// Whether /proc lists a socket on address:port (in the given state, for TCP).
bool ProcListsSocket(const char* table, uint16_t port, const char* state,
                     const char* address = kProcLoopback) {
  std::ifstream file(table);
  std::string line;
  char wanted[64];
  std::snprintf(wanted, sizeof wanted, "%s:%04X", address, port);
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, st;
    fields >> slot >> local >> remote >> st;
    if (local == wanted && (state == nullptr || st == state)) return true;
  }
  return false;
}

}  // namespace

uint16_t FreeTcpPort() {
  return FreePort(SOCK_STREAM);
}
uint16_t FreeUdpPort() {
  return FreePort(SOCK_DGRAM);
}

int LoopbackListener(uint16_t* port, int receiveBuffer) {
  const int fd = BoundLoopbackSocket(SOCK_STREAM, port, receiveBuffer);
  listen(fd, 5);
  return fd;
}

int LoopbackUdpSocket(uint16_t* port) {
  return BoundLoopbackSocket(SOCK_DGRAM, port);
}

bool WaitForTcpListener(uint16_t port, int timeoutMs) {
  return WaitUntil([&] { return ProcListsSocket("/proc/net/tcp", port, "0A"); }, timeoutMs);
}

bool WaitForUdpSocket(uint16_t port, int timeoutMs) {
  return WaitUntil([&] { return ProcListsSocket("/proc/net/udp", port, nullptr); }, timeoutMs);
}

bool WaitForTcp6Listener(uint16_t port, bool anyAddress, int timeoutMs) {
  const char* address = anyAddress ? kProcIpv6Any : kProcIpv6Loopback;
  return WaitUntil([&] { return ProcListsSocket("/proc/net/tcp6", port, "0A", address); },
                   timeoutMs);
}

bool WaitForUdp6Socket(uint16_t port, int timeoutMs) {
  return WaitUntil(
      [&] { return ProcListsSocket("/proc/net/udp6", port, nullptr, kProcIpv6Loopback); },
      timeoutMs);
}

namespace {

// One family's addresses as `ip -o addr show up` lists them, those of loopback moved last and
// IPv6 link-local ones left out.
std::vector<std::string> AddressesAsIpListsThem(const char* family) {
  int status = -1;
  const std::string listing =
      RunCommand(std::string("ip -o -") + family + " addr show up", &status);
  if (status != 0) return {};
  std::vector<std::string> others, loopback;
  const std::regex line(R"(^\d+:\s+(\S+)\s+inet6?\s+([0-9a-f.:]+)/\d+\s.*scope (\S+))");
  std::istringstream lines(listing);
  std::smatch m;
  for (std::string text; std::getline(lines, text);) {
    if (std::regex_search(text, m, line) && !(family[0] == '6' && m[3] == "link")) {
      (m[1] == "lo" ? loopback : others).push_back(m[2]);
    }
  }
  others.insert(others.end(), loopback.begin(), loopback.end());
  return others;
}

}  // namespace

HeldNameServer::HeldNameServer() : threads_(ThreadCount()) {
  if (!IsRoot()) return;
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(53);
  at.sin_addr.s_addr = inet_addr("127.0.53.7");
  if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
    close(fd_);
    fd_ = -1;
  }
  std::ofstream(dir_.file("resolv.conf"))
      << "nameserver 127.0.53.7\noptions timeout:30 attempts:1\n";
  resolver_ = std::make_unique<FileShownAt>(dir_.file("resolv.conf"), "/etc/resolv.conf");
}

HeldNameServer::~HeldNameServer() {
  WaitUntil([this] { return ThreadCount() <= threads_; }, 10000);
  resolver_.reset();
  if (fd_ >= 0) close(fd_);
}

bool HeldNameServer::questionsCame(size_t count) {
  for (;;) {
    Question q;
    uint8_t buffer[512];
    const ssize_t length = recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT,
                                    reinterpret_cast<sockaddr*>(&q.from), &q.fromLength);
    if (length < 0) break;
    if (length > 12) questions_.push_back({{buffer, buffer + length}, q.from, q.fromLength});
  }
  return questions_.size() >= count;
}

void HeldNameServer::answerAll() {
  for (const Question& q : questions_) {
    std::vector<uint8_t> answer = q.bytes;
    answer[2] = 0x81;                      // a response, recursion desired
    answer[3] = 0x80;                      // recursion available, no error
    if (answer[answer.size() - 3] == 1) {  // QTYPE A
      answer[7] = 1;                       // one answer
      const uint8_t record[] = {0xC0, 12, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 127, 0, 0, 1};
      answer.insert(answer.end(), std::begin(record), std::end(record));
    }
    sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&q.from),
           q.fromLength);
  }
  questions_.clear();
}

std::vector<std::string> LocalAddressesAsIpListsThem() {
  return AddressesAsIpListsThem("4");
}

std::vector<std::string> LocalAddressListAsIpListsIt() {
  std::vector<std::string> all = LocalAddressesAsIpListsThem();
  const std::vector<std::string> ipv6 = AddressesAsIpListsThem("6");
  all.insert(all.end(), ipv6.begin(), ipv6.end());
  return all;
}

FreshNetworkNamespace::FreshNetworkNamespace() {
  home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  entered_ = home_ >= 0 && unshare(CLONE_NEWNET) == 0;
}

FreshNetworkNamespace::~FreshNetworkNamespace() {
  if (home_ < 0) return;
  if (entered_ && setns(home_, CLONE_NEWNET) != 0) std::abort();  // never run on elsewhere
  close(home_);
}

bool FreshNetworkNamespace::run(const std::string& command) {
  int status = -1;
  RunCommand(command + " 2>&1", &status);  // a child of this thread: inside the namespace
  return status == 0;
}
