// pelorin-helper as a hostile caller meets it: the state it starts in, and every request it
// refuses, each answered with its errno while the helper goes on serving the next. The helper
// runs as root in the client namespace of a lab of the test's own.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/sched.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/helper_client.h"
#include "loopback_sockets.h"
#include "net_lab.h"
#include "ping/echo_status.h"
#include "test_util.h"
#include "wire/helper_channel.h"
#include "wire/helper_protocol.h"

namespace {

// The helper as the window starts it, but with what a careless or hostile caller leaves: a
// variable in the environment and a descriptor that is not close-on-exec.
class HelperProcess {
 public:
  HelperProcess() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return;
    const int stray = open("/dev/null", O_RDONLY);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(pair[1], 3);
      char* argv[] = {const_cast<char*>(PELORIN_HELPER_PATH), nullptr};
      char* environment[] = {const_cast<char*>("QT_PLUGIN_PATH=/tmp"), nullptr};
      execve(argv[0], argv, environment);
      _exit(127);
    }
    close(stray);
    close(pair[1]);
    fd_ = pair[0];
    // It says first that it serves this caller.
    const std::vector<uint8_t> ready = reply();
    ready_ = ready.size() == sizeof(HelperAbilitiesReply) && As<HelperHeader>(ready).id == 0;
  }
  ~HelperProcess() {
    if (fd_ >= 0) close(fd_);  // the helper ends with its channel
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }

  pid_t pid() const { return pid_; }
  int fd() const { return fd_; }
  bool ready() const { return ready_; }

  void sendBytes(const void* data, size_t size) {
    ASSERT_EQ(::send(fd_, data, size, MSG_NOSIGNAL), ssize_t(size));
  }
  template <typename Record>
  void send(Record record, uint32_t id) {
    record.header.id = id;
    sendBytes(&record, sizeof record);
  }

  // The next reply, empty when none comes within `timeoutMs`.
  std::vector<uint8_t> reply(int timeoutMs = 10000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return {};
    std::vector<uint8_t> bytes(kHelperRecordLimit);
    const ssize_t n = recv(fd_, bytes.data(), bytes.size(), 0);
    bytes.resize(n > 0 ? size_t(n) : 0);
    return bytes;
  }

  // The errno of the status reply to request `id` (-1 when another reply comes).
  int status(uint32_t id) {
    const std::vector<uint8_t> bytes = reply();
    if (bytes.size() != sizeof(HelperStatusReply)) return -1;
    const auto status = As<HelperStatusReply>(bytes);
    return status.header.type == kHelperStatus && status.header.id == id ? status.error : -1;
  }

  // Asks a request and returns the errno it was refused with.
  template <typename Record>
  int refusal(const Record& record, uint32_t id) {
    send(record, id);
    return status(id);
  }

  // Whether the helper still answers.
  bool serves() {
    send(NewHelperRecord<HelperBareRecord>(kHelperHello), 77);
    const std::vector<uint8_t> bytes = reply();
    return bytes.size() == sizeof(HelperAbilitiesReply) && As<HelperHeader>(bytes).id == 77;
  }

  template <typename Record>
  static Record As(const std::vector<uint8_t>& bytes) {
    Record record{};
    std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
    return record;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  bool ready_ = false;
};

HelperEchoRequest Echo(const char* to, uint32_t timeoutMs = 2000) {
  auto request = NewHelperRecord<HelperEchoRequest>(kHelperEcho);
  request.destination = WireIpv4(inet_addr(to));
  request.ttl = 64;
  request.timeoutMs = timeoutMs;
  return request;
}

HelperKillRequest Kill(const char* local, uint16_t localPort, const char* remote,
                       uint16_t remotePort) {
  auto request = NewHelperRecord<HelperKillRequest>(kHelperKill);
  request.local = WireIpv4(inet_addr(local));
  request.remote = WireIpv4(inet_addr(remote));
  request.localPort = htons(localPort);
  request.remotePort = htons(remotePort);
  return request;
}

// The same with addresses of either family.
WireAddress Wire(const char* address) {
  return WireAddressOf(ParseIpAddress(address).value_or(IpAddress()));
}

HelperEchoRequest Echo6(const char* to, uint8_t ttl = 64) {
  auto request = Echo("0.0.0.0");
  request.destination = Wire(to);
  request.ttl = ttl;
  return request;
}

HelperKillRequest Kill6(const char* local, uint16_t localPort, const char* remote,
                        uint16_t remotePort) {
  auto request = Kill("0.0.0.0", localPort, "0.0.0.0", remotePort);
  request.local = Wire(local);
  request.remote = Wire(remote);
  return request;
}

// Whether the helper's echo reply to request `id` came from `from` with this status.
::testing::AssertionResult EchoAnswered(const std::vector<uint8_t>& bytes, uint32_t id,
                                        uint32_t status, const char* from) {
  const auto answer = HelperProcess::As<HelperEchoReply>(bytes);
  const IpAddress sender = AddressOfWire(answer.address);
  if (answer.header.type == kHelperEchoResult && answer.header.id == id && answer.answered == 1 &&
      answer.status == status && sender.isIpv6() && sender.text() == from) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "type " << answer.header.type << " answered " << answer.answered << " status "
         << answer.status << " from " << sender.text();
}

// The threads of a process, as the system counts them.
int ThreadsOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("Threads:")) return std::stoi(line.substr(8));
  }
  return -1;
}

// Whether a thread held at the entry of a system call is about to read the link ".../exe".
bool ReadsExecutableLink(pid_t thread, const __ptrace_syscall_info& call) {
  long pathAt = -1;
  if (call.entry.nr == SYS_readlinkat) pathAt = long(call.entry.args[1]);
#ifdef SYS_readlink
  if (call.entry.nr == SYS_readlink) pathAt = long(call.entry.args[0]);
#endif
  if (pathAt == -1) return false;
  std::string path;
  for (int word = 0; word < 8 && path.find('\0') == std::string::npos; ++word) {
    errno = 0;
    const long bytes = ptrace(PTRACE_PEEKDATA, thread, pathAt + word * sizeof(long), nullptr);
    if (errno != 0) break;
    path.append(reinterpret_cast<const char*>(&bytes), sizeof bytes);
  }
  path.resize(std::min(path.find('\0'), path.size()));
  return path == "exe" || path.ends_with("/exe");
}

// Holds the threads of process `pid` at their system calls (ptrace) while `start` runs, until
// one of them is about to read an executable's link; runs `meanwhile` there, then lets every
// thread go on. False when it could not trace them or none got there.
bool AtReadOfExecutable(pid_t pid, const std::function<void()>& start,
                        const std::function<void()>& meanwhile) {
  std::set<pid_t> traced;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    const pid_t thread = std::stoi(entry.path().filename());
    if (ptrace(PTRACE_SEIZE, thread, 0, PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACECLONE) != 0 ||
        ptrace(PTRACE_INTERRUPT, thread, 0, 0) != 0) {
      return false;
    }
    traced.insert(thread);
  }
  int status = 0;
  for (const pid_t thread : traced) {
    waitpid(thread, &status, __WALL);
    ptrace(PTRACE_SYSCALL, thread, 0, 0);
  }
  start();
  pid_t held = -1;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (held < 0 && std::chrono::steady_clock::now() < until) {
    const pid_t thread = waitpid(-1, &status, __WALL | WNOHANG);
    if (thread < 0) break;
    if (thread == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (!WIFSTOPPED(status)) {
      traced.erase(thread);
      continue;
    }
    traced.insert(thread);  // a thread started since, traced from its start
    const int signal = WSTOPSIG(status);
    int passOn = 0;
    if (signal == (SIGTRAP | 0x80)) {
      __ptrace_syscall_info call{};
      if (ptrace(PTRACE_GET_SYSCALL_INFO, thread, sizeof call, &call) > 0 &&
          call.op == PTRACE_SYSCALL_INFO_ENTRY && ReadsExecutableLink(thread, call)) {
        held = thread;
        break;
      }
    } else if ((status >> 16) == 0 && signal != SIGTRAP && signal != SIGSTOP) {
      passOn = signal;  // a signal for the helper, not a stop of the tracing
    }
    ptrace(PTRACE_SYSCALL, thread, 0, passOn);
  }
  if (held >= 0) meanwhile();
  for (const pid_t thread : traced) {
    if (thread != held) {
      ptrace(PTRACE_INTERRUPT, thread, 0, 0);
      waitpid(thread, &status, __WALL);
    }
    ptrace(PTRACE_DETACH, thread, 0, 0);
  }
  return held >= 0;
}

// Starts `program` with the process id `id` (which must be free); -1 when the system refuses.
pid_t StartWithId(pid_t id, const char* program, const char* argument) {
  clone_args args{};
  args.exit_signal = SIGCHLD;
  pid_t wanted = id;
  args.set_tid = reinterpret_cast<uintptr_t>(&wanted);
  args.set_tid_size = 1;
  const long child = syscall(SYS_clone3, &args, sizeof args);
  if (child == 0) {
    execl(program, program, argument, nullptr);
    _exit(127);
  }
  return pid_t(child);
}

class HelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsRoot()) GTEST_SKIP() << "network namespaces need root";
    lab_ = std::make_unique<NetLab>();
    ASSERT_TRUE(lab_->ok()) << lab_->error();
    client_ = std::make_unique<NetnsScope>(lab_->name(NetLab::kClient));
    ASSERT_TRUE(client_->entered());
    helper_ = std::make_unique<HelperProcess>();
    ASSERT_TRUE(helper_->ready());
    ASSERT_TRUE(helper_->serves());
  }
  void TearDown() override {
    helper_.reset();
    client_.reset();
    lab_.reset();
  }

  std::unique_ptr<NetLab> lab_;
  std::unique_ptr<NetnsScope> client_;
  std::unique_ptr<HelperProcess> helper_;
};

}  // namespace

TEST_F(HelperTest, StartsWithAnEmptyEnvironmentAndOnlyItsSockets) {
  const std::string proc = "/proc/" + std::to_string(helper_->pid());
  // What it was started with is gone, from its memory too.
  EXPECT_EQ(RunCommand("tr -d '\\000' <" + proc + "/environ | wc -c"), "0\n");
  std::map<int, std::string> descriptors;
  for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd")) {
    descriptors[std::stoi(entry.path().filename())] =
        std::filesystem::read_symlink(entry.path()).string();
  }
  ASSERT_EQ(descriptors.size(), 5u);
  for (int fd = 0; fd < 3; ++fd) EXPECT_EQ(descriptors[fd], "/dev/null") << fd;
  EXPECT_TRUE(descriptors[3].starts_with("socket:")) << descriptors[3];  // the window's
  EXPECT_TRUE(descriptors[4].starts_with("socket:")) << descriptors[4];  // the meeting place
}

TEST_F(HelperTest, RecordsThatCannotBeReadAreRefusedAndTheNextIsServed) {
  auto other = NewHelperRecord<HelperBareRecord>(kHelperHello);
  other.header.version = kHelperVersion + 1;
  EXPECT_EQ(helper_->refusal(other, 1), EINVAL);
  other = NewHelperRecord<HelperBareRecord>(kHelperStatus);  // a reply's type
  EXPECT_EQ(helper_->refusal(other, 2), EINVAL);
  other = NewHelperRecord<HelperBareRecord>(kHelperHello);
  other.header.reserved = 1;
  EXPECT_EQ(helper_->refusal(other, 3), EINVAL);

  // Short: the echo's header, not its body. Long: more than its layout, and more than any
  // record can be.
  auto echo = Echo("198.18.4.2");
  echo.header.id = 4;
  helper_->sendBytes(&echo, sizeof echo - 1);
  EXPECT_EQ(helper_->status(4), EINVAL);
  std::vector<uint8_t> longer(sizeof echo + 4, 0);
  echo.header.id = 5;
  echo.header.length = uint32_t(longer.size());
  std::memcpy(longer.data(), &echo, sizeof echo);
  helper_->sendBytes(longer.data(), longer.size());
  EXPECT_EQ(helper_->status(5), EINVAL);
  std::vector<uint8_t> huge(kHelperRecordLimit * 2, 0);
  echo.header.id = 6;
  echo.header.length = uint32_t(huge.size());
  std::memcpy(huge.data(), &echo, sizeof echo);
  helper_->sendBytes(huge.data(), huge.size());
  EXPECT_EQ(helper_->status(6), EINVAL);
  helper_->sendBytes(nullptr, 0);  // a record of no bytes is not the window's end
  EXPECT_EQ(helper_->status(0), EINVAL);
  EXPECT_TRUE(helper_->serves());
}

// Unicast only: no unspecified, limited broadcast or multicast destination, nor the broadcast
// address of the client's own subnet (which r1 would answer).
TEST_F(HelperTest, EchoesGoToOneHostOnly) {
  uint32_t id = 10;
  for (const char* refused : {"0.0.0.0", "255.255.255.255", "224.0.0.1", kLabClientBroadcast}) {
    EXPECT_EQ(helper_->refusal(Echo(refused), ++id), EACCES) << refused;
  }
  auto echo = Echo(kLabTarget);
  echo.ttl = 256;
  EXPECT_EQ(helper_->refusal(echo, ++id), EINVAL);
  echo = Echo(kLabTarget);
  echo.destination.family = 3;
  EXPECT_EQ(helper_->refusal(echo, ++id), EINVAL);

  helper_->send(Echo(kLabTarget), ++id);
  const auto answer = HelperProcess::As<HelperEchoReply>(helper_->reply());
  EXPECT_EQ(answer.header.type, kHelperEchoResult);
  EXPECT_EQ(answer.header.id, id);
  EXPECT_EQ(answer.answered, 1);
  EXPECT_EQ(answer.status, kEchoSuccess);
}

// Over ICMPv6 too: never to ::, a group, or an IPv4 host behind an IPv4-mapped address; the
// target and the routers on the way answer.
TEST_F(HelperTest, Ipv6EchoesGoToOneHostOnly) {
  uint32_t id = 60;
  for (const char* refused : {"::", "ff02::1", "ff0e::1", "::ffff:198.18.4.2"}) {
    EXPECT_EQ(helper_->refusal(Echo6(refused), ++id), EACCES) << refused;
  }
  helper_->send(Echo6(kLab6Target), ++id);
  EXPECT_TRUE(EchoAnswered(helper_->reply(), id, kEchoSuccess, kLab6Target));
  helper_->send(Echo6(kLab6Target, 2), ++id);
  EXPECT_TRUE(EchoAnswered(helper_->reply(), id, kEchoTtlExpiredTransit, kLab6Router2));
}

// A waiting echo ends when the window cancels it, long before its time-out.
TEST_F(HelperTest, ACancelledEchoEndsAtOnce) {
  helper_->send(Echo(kLabSilent, 60000), 20);
  EXPECT_TRUE(helper_->reply(300).empty());  // it waits
  helper_->send(NewHelperRecord<HelperBareRecord>(kHelperCancel), 20);
  const auto answer = HelperProcess::As<HelperEchoReply>(helper_->reply());
  EXPECT_EQ(answer.header.id, 20u);
  EXPECT_EQ(answer.answered, 0);
  EXPECT_EQ(answer.status, kEchoReqTimedOut);
}

TEST_F(HelperTest, EchoesBeyondTheRateAreRefused) {
  constexpr uint32_t kEchoes = 150;
  for (uint32_t id = 1; id <= kEchoes; ++id) helper_->send(Echo("255.255.255.255"), id);
  std::map<int, int> errors;
  for (uint32_t i = 0; i < kEchoes; ++i) {
    const auto status = HelperProcess::As<HelperStatusReply>(helper_->reply());
    ++errors[status.header.type == kHelperStatus ? status.error : -1];
  }
  EXPECT_GE(errors[EAGAIN], 40) << "only a hundred a second";
  EXPECT_EQ(errors[EAGAIN] + errors[EACCES] + errors[EBUSY], int(kEchoes));
}

TEST_F(HelperTest, AFilterOverItsLimitsIsRefused) {
  auto capture = NewHelperRecord<HelperCaptureRequest>(kHelperCapture);
  capture.address = WireIpv4(inet_addr("127.0.0.1"));
  CaptureFilter filter{};
  filter.includeTcp = 1;
  filter.portMode = 1;
  for (int i = 0; i < kFilterListLength; ++i) filter.ports[i] = htons(uint16_t(1000 + i));
  capture.filter = WireFilterOf(filter);
  auto over = capture;
  over.filter.portCount = kFilterListLength + 1;
  EXPECT_EQ(helper_->refusal(over, 31), EINVAL);
  over = capture;
  over.filter.addressMode = 4;
  EXPECT_EQ(helper_->refusal(over, 32), EINVAL);
  over = capture;
  over.filter.portCount = 5;  // entries past the count
  EXPECT_EQ(helper_->refusal(over, 33), EINVAL);
  over = capture;
  over.filter.includeUdp = 2;
  EXPECT_EQ(helper_->refusal(over, 34), EINVAL);
  over = capture;
  over.filter.addressCount = 1;
  over.filter.addressMode = 1;
  over.filter.addresses[0].family = kWireIpv6;  // ::, which like 0.0.0.0 would end the list
  EXPECT_EQ(helper_->refusal(over, 35), EINVAL);
  over.filter.addresses[0] = WireIpv4(inet_addr("10.0.0.1"));
  over.filter.addresses[0].bytes[4] = 1;  // an IPv4 address of more than four bytes
  EXPECT_EQ(helper_->refusal(over, 36), EINVAL);
  over = capture;
  over.address = WireAddressOf(*ParseIpv6Address("2001:2:1::2"));
  over.address.reserved = 1;
  EXPECT_EQ(helper_->refusal(over, 37), EINVAL);
  EXPECT_TRUE(helper_->serves());
}

// Only the one established connection with the four-tuple ends: never a listener (which the
// kernel's lookup falls back to), one that has gone, or one that is closing.
TEST_F(HelperTest, KillsOnlyTheOneEstablishedConnection) {
  uint16_t port = 0;
  const int listener = Listener("127.0.0.1", &port);
  int server = -1, closingServer = -1;
  const int client = Connect("127.0.0.1", listener, "127.0.0.1", port, &server);
  const int closing = Connect("127.0.0.1", listener, "127.0.0.1", port, &closingServer);
  ASSERT_TRUE(listener >= 0 && client >= 0 && closing >= 0);
  shutdown(closing, SHUT_WR);  // FIN_WAIT2 here, CLOSE_WAIT at the server

  EXPECT_EQ(helper_->refusal(Kill("127.0.0.1", port, "0.0.0.0", 0), 41), EINVAL);
  EXPECT_EQ(helper_->refusal(Kill("127.0.0.1", port, "127.0.0.1", 1), 42), ENOENT);
  ASSERT_TRUE(WaitUntil([&] {
    return RunCommand("ss -tnH state close-wait").find(":" + std::to_string(port)) !=
           std::string::npos;
  }));
  EXPECT_EQ(helper_->refusal(Kill("127.0.0.1", port, "127.0.0.1", LocalPortOf(closing)), 43),
            ENOENT);
  EXPECT_EQ(helper_->refusal(Kill("127.0.0.1", LocalPortOf(client), "127.0.0.1", port), 44), 0);
  char byte;
  EXPECT_EQ(recv(client, &byte, 1, MSG_DONTWAIT), -1);
  EXPECT_EQ(errno, ECONNABORTED);
  int again = -1;
  const int another = Connect("127.0.0.1", listener, "127.0.0.1", port, &again);
  EXPECT_GE(again, 0) << "the listener was destroyed";
  for (int fd : {listener, server, closingServer, client, closing, another, again}) close(fd);
}

// The same over IPv6: a connection on ::1, an IPv4 client's connection to a dual-stack
// listener (IPv4-mapped addresses), and a link-local one, which the kernel finds only on the
// interface it is bound to. Both ends of one family, and a remote end.
TEST_F(HelperTest, KillsOnlyTheOneEstablishedIpv6Connection) {
  uint16_t port = 0, dualPort = 0;
  const int listener = Listener6("::", &port);
  const int dual = Listener6("::", &dualPort, false);
  int server = -1, mappedServer = -1, linkServer = -1;
  const int client = Connect6("::1", listener, "::1", port, &server);
  const int ipv4Client = Connect("127.0.0.1", dual, "127.0.0.1", dualPort, &mappedServer);
  // The client namespace's link-local address on its link to r1.
  const std::string linkLocal =
      RunCommand("ip -6 -o addr show dev e1 scope link | sed -n 's/.*inet6 \\([^/]*\\).*/\\1/p'");
  ASSERT_TRUE(linkLocal.starts_with("fe80::")) << linkLocal;
  const std::string own = linkLocal.substr(0, linkLocal.find('\n'));
  sockaddr_in6 to = Ipv6SocketAddress(own.c_str(), port);
  to.sin6_scope_id = if_nametoindex("e1");
  const int linkClient = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(connect(linkClient, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  linkServer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_TRUE(listener >= 0 && dual >= 0 && client >= 0 && ipv4Client >= 0 && linkServer >= 0);

  EXPECT_EQ(helper_->refusal(Kill6("::1", port, "::", 1), 71), EINVAL);
  EXPECT_EQ(helper_->refusal(Kill6("::1", port, "127.0.0.1", 1), 72), EINVAL);
  EXPECT_EQ(helper_->refusal(Kill6("::1", port, "::1", 1), 73), ENOENT);
  const uint16_t clientPort = LocalPortOf6(client);
  EXPECT_EQ(helper_->refusal(Kill6("::1", clientPort, "::1", port), 74), 0);
  EXPECT_EQ(
      helper_->refusal(
          Kill6("::ffff:127.0.0.1", dualPort, "::ffff:127.0.0.1", LocalPortOf(ipv4Client)), 75),
      0);
  EXPECT_EQ(helper_->refusal(Kill6(own.c_str(), LocalPortOf6(linkClient), own.c_str(), port), 76),
            0);
  char byte;
  for (const int killed : {client, mappedServer, linkClient}) {
    EXPECT_EQ(recv(killed, &byte, 1, MSG_DONTWAIT), -1);
    EXPECT_EQ(errno, ECONNABORTED);
  }
  int again = -1;
  const int another = Connect6("::1", listener, "::1", port, &again);
  EXPECT_GE(again, 0) << "the listener was destroyed";
  for (int fd : {listener, dual, server, client, ipv4Client, mappedServer, linkClient, linkServer,
                 another, again}) {
    close(fd);
  }
}

// A gone interface, and facts of a process that owns no TCP or UDP socket (a child that only
// sleeps), are refused; this process, which holds one, is answered.
TEST_F(HelperTest, FlushOfAGoneInterfaceAndFactsOfAProcessWithoutSocket) {
  auto flush = NewHelperRecord<HelperFlushRequest>(kHelperFlush);
  flush.interfaceIndex = 99999;
  flush.family = kWireIpv4;
  EXPECT_EQ(helper_->refusal(flush, 51), ENODEV);

  ChildProcess sleeper({"sleep", "30"});
  auto fact = NewHelperRecord<HelperFactRequest>(kHelperFact);
  fact.processId = uint32_t(sleeper.pid());
  fact.fact = kFactCommandLine;
  fact.capacity = 300;
  EXPECT_EQ(helper_->refusal(fact, 52), ESRCH);

  uint16_t port = 0;
  const int udp = UdpSocket("127.0.0.1", &port);
  fact.processId = uint32_t(getpid());
  helper_->send(fact, 53);
  const auto answer = HelperProcess::As<HelperFactReply>(helper_->reply());
  close(udp);
  EXPECT_EQ(answer.header.type, kHelperFactResult);
  EXPECT_EQ(answer.result, 0);
  EXPECT_TRUE(std::string(answer.text, answer.length).find("helper_test") != std::string::npos)
      << std::string(answer.text, answer.length);
}

// A process whose only socket is an IPv6 one owns an endpoint: the owners name it, and its
// facts are answered.
TEST_F(HelperTest, OwnersAndFactsCoverIpv6Sockets) {
  ChildProcess socat({"socat", "-u", "UDP6-RECV:0,bind=[::1]", "/dev/null"});
  const uint32_t pid = uint32_t(socat.pid());
  ASSERT_TRUE(WaitUntil([&] {
    return RunCommand("ss -uanpH").find("pid=" + std::to_string(pid) + ",") != std::string::npos;
  }));
  helper_->send(NewHelperRecord<HelperBareRecord>(kHelperOwners), 81);
  bool named = false;
  for (std::vector<uint8_t> bytes = helper_->reply(); !bytes.empty(); bytes = helper_->reply()) {
    const uint16_t type = HelperProcess::As<HelperHeader>(bytes).type;
    if (type == kHelperOwnerPairs) {
      const auto pairs = HelperProcess::As<HelperOwnerPairsReply>(bytes);
      for (uint32_t i = 0; i < pairs.count; ++i) named = named || pairs.pairs[i].processId == pid;
    } else if (type != kHelperOwnerNames) {
      EXPECT_EQ(HelperProcess::As<HelperStatusReply>(bytes).error, 0);
      break;
    }
  }
  EXPECT_TRUE(named);
  auto fact = NewHelperRecord<HelperFactRequest>(kHelperFact);
  fact.processId = pid;
  fact.fact = kFactCommandLine;
  fact.capacity = 300;
  helper_->send(fact, 82);
  const auto answer = HelperProcess::As<HelperFactReply>(helper_->reply());
  EXPECT_EQ(answer.header.type, kHelperFactResult);
  EXPECT_EQ(std::string(answer.text, answer.length), "socat -u UDP6-RECV:0,bind=[::1] /dev/null");
}

// A caller that floods requests and refusals while it reads its replies slowly waits for its
// own: the helper's threads stay within their limit (64 serving, one reading each of at most 8
// windows), refusals included.
TEST_F(HelperTest, ACallerThatReadsSlowlyWaitsAndTheThreadsStayBounded) {
  auto fact = NewHelperRecord<HelperFactRequest>(kHelperFact);
  fact.processId = uint32_t(getpid());
  fact.fact = kFactCommandLine;
  fact.capacity = 300;
  const char bad = 'x';
  int most = 0;
  uint32_t id = 1000;
  std::vector<uint8_t> reply(kHelperRecordLimit);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (int round = 0; std::chrono::steady_clock::now() < until; ++round) {
    for (int i = 0; i < 4; ++i) {
      fact.header.id = ++id;
      send(helper_->fd(), &fact, sizeof fact, MSG_DONTWAIT | MSG_NOSIGNAL);
      send(helper_->fd(), &bad, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    if (round % 4 == 0) recv(helper_->fd(), reply.data(), reply.size(), MSG_DONTWAIT);
    most = std::max(most, ThreadsOf(helper_->pid()));
  }
  EXPECT_LE(most, 72);
  while (!helper_->reply(2000).empty()) {
  }
  EXPECT_TRUE(helper_->serves());
}

// A fact is of the process that owned a socket when the helper looked, even when its id names
// another process by the time the helper reads: the helper is held at its read of the
// executable (ptrace), the owner ends, and a process that owns no socket takes its id.
TEST_F(HelperTest, AFactIsOfTheProcessCheckedEvenWhenItsIdGoesToAnother) {
  const pid_t owner = fork();
  if (owner == 0) {
    uint16_t port = 0;
    UdpSocket("127.0.0.1", &port);
    pause();
    _exit(0);
  }
  ASSERT_GT(owner, 0);
  ASSERT_TRUE(WaitUntil([&] {
    return RunCommand("ss -uanpH").find("pid=" + std::to_string(owner) + ",") != std::string::npos;
  }));
  auto fact = NewHelperRecord<HelperFactRequest>(kHelperFact);
  fact.processId = uint32_t(owner);
  fact.fact = kFactExecutablePath;
  fact.capacity = kFactTextLimit;
  pid_t impostor = -1;
  const bool held = AtReadOfExecutable(
      helper_->pid(), [&] { helper_->send(fact, 95); },
      [&] {
        kill(owner, SIGKILL);
        waitpid(owner, nullptr, 0);
        impostor = StartWithId(owner, "/bin/sleep", "30");
        WaitUntil([&] {
          std::error_code error;
          return std::filesystem::read_symlink("/proc/" + std::to_string(owner) + "/exe", error)
                     .filename() == "sleep";
        });
      });
  if (impostor < 0 && (errno == ENOSYS || errno == EPERM)) {
    GTEST_SKIP() << "this system gives no process a chosen id";
  }
  ASSERT_TRUE(held) << "the helper could not be held at its read";
  ASSERT_EQ(impostor, owner) << "the id did not go to another process";
  const std::vector<uint8_t> bytes = helper_->reply();
  const auto answer = HelperProcess::As<HelperFactReply>(bytes);
  EXPECT_EQ(answer.header.id, 95u);
  if (answer.header.type == kHelperFactResult) {
    EXPECT_EQ(answer.result, -1) << std::string(answer.text, answer.length);
  } else {
    EXPECT_EQ(answer.header.type, kHelperStatus);
  }
  kill(impostor, SIGKILL);
  waitpid(impostor, nullptr, 0);
}

// One helper serves a user in a namespace: a second one started there ends at once, and a
// window there meets the first, whose limits it shares.
TEST_F(HelperTest, OneHelperServesTheUserInANamespace) {
  HelperProcess second;
  EXPECT_FALSE(second.ready());
  int status = 0;
  ASSERT_TRUE(WaitUntil([&] { return waitpid(second.pid(), &status, WNOHANG) == second.pid(); }));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kHelperServedElsewhere) << status;

  // The first one's eight captures at once leave none for the window.
  auto capture = NewHelperRecord<HelperCaptureRequest>(kHelperCapture);
  capture.address = WireIpv4(inet_addr("198.18.1.2"));  // the client's own
  CaptureFilter filter{};
  filter.includeTcp = 1;
  capture.filter = WireFilterOf(filter);
  std::vector<int> pipes;  // kept open: a capture whose reader went ends
  for (uint32_t id = 1; id <= 8; ++id) {
    helper_->send(capture, id);
    HelperHeader opened{};
    int pipe = -1;
    ASSERT_EQ(ReceiveHelperRecord(helper_->fd(), &opened, sizeof opened, &pipe),
              ssize_t(sizeof opened));
    ASSERT_EQ(opened.type, kHelperCaptureOpened) << id;
    ASSERT_GE(pipe, 0) << id;
    pipes.push_back(pipe);
  }
  UseBuiltHelper();
  HelperCall call(capture);
  HelperReply reply;
  EXPECT_EQ(HelperCall::Finish(call, reply, kHelperQuickTimeoutMs), EBUSY);
  EXPECT_EQ(RunningHelperId(), helper_->pid());
  UseBuiltHelper();  // lets the window's connection go, so the helper ends with the test
  for (const int pipe : pipes) close(pipe);
}

// The window's side: a helper that died is started again by the next request. (In the lab's
// namespace: a helper of the test machine's own namespace may serve other tests meanwhile.)
TEST_F(HelperTest, AHelperThatDiedIsStartedAgain) {
  UseBuiltHelper();
  const auto hello = [] {
    HelperCall call(NewHelperRecord<HelperBareRecord>(kHelperHello));
    HelperReply reply;
    return HelperCall::Finish(call, reply, kHelperQuickTimeoutMs) == 0 &&
           reply.type() == kHelperAbilities;
  };
  ASSERT_TRUE(hello());
  const pid_t first = RunningHelperId();
  ASSERT_GT(first, 0);
  kill(first, SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return RunningHelperId() == 0; }));
  EXPECT_TRUE(hello());
  EXPECT_NE(RunningHelperId(), first);
  EXPECT_GT(RunningHelperId(), 0);
  UseBuiltHelper();  // lets the helper go, so it ends with the test
}
