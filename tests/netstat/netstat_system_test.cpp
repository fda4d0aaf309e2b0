// The endpoint tables and process facts against the real system, with ss as the reference.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "host/local_netstat.h"
#include "loopback_sockets.h"
#include "netstat/endpoint_source.h"
#include "netstat/netstat_actions.h"
#include "netstat/process_info.h"
#include "socket_peer.h"
#include "test_util.h"

namespace {

constexpr const char* kServer = "127.0.12.1";
constexpr const char* kClient = "127.0.12.2";

// One row as both tools show it, owner by process id; and the owner's name apart.
struct Row {
  std::string text;  // "TCP 127.0.0.1:80 0.0.0.0:0 LISTENING pid=12"
  uint32_t pid = 0;
  std::string name;  // as ss names it: the task name, at most 15 characters
};

std::string MapSsState(const std::string& state) {
  static const std::map<std::string, std::string> names = {
      {"ESTAB", "ESTABLISHED"},    {"SYN-SENT", "SYN_SENT"},     {"SYN-RECV", "SYN_RCVD"},
      {"FIN-WAIT-1", "FIN_WAIT1"}, {"FIN-WAIT-2", "FIN_WAIT2"},  {"TIME-WAIT", "TIME_WAIT"},
      {"UNCONN", "CLOSED"},        {"CLOSE-WAIT", "CLOSE_WAIT"}, {"LAST-ACK", "LAST_ACK"},
      {"LISTEN", "LISTENING"},     {"CLOSING", "CLOSING"}};
  const auto it = names.find(state);
  return it == names.end() ? "?" + state : it->second;
}

// "0.0.0.0%lo:53" -> "0.0.0.0:53"; "0.0.0.0:*" -> "0.0.0.0:0"; a dual-stack socket's "*:80"
// -> "[::]:80".
std::string SsEndpoint(const std::string& text) {
  const size_t colon = text.rfind(':');
  std::string address = text.substr(0, colon);
  std::string port = text.substr(colon + 1);
  address = address.substr(0, address.find('%'));
  if (address == "*") address = "[::]";
  return address + ":" + (port == "*" ? "0" : port);
}

// Both families.
std::vector<Row> SsRows(bool udp) {
  const std::string out = RunCommand(udp ? "ss -uanpH" : "ss -tanpH");
  static const std::regex user(R"re(\("((?:[^"\\]|\\.)*)",pid=(\d+),fd=\d+\))re");
  std::vector<Row> rows;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string state, recvQ, sendQ, local, peer;
    if (!(fields >> state >> recvQ >> sendQ >> local >> peer)) continue;
    Row row;
    for (auto m = std::sregex_iterator(line.begin(), line.end(), user); m != std::sregex_iterator();
         ++m) {
      const uint32_t pid = uint32_t(std::stoul((*m)[2]));
      if (row.pid == 0 || pid < row.pid) {
        row.pid = pid;
        row.name = (*m)[1];
      }
    }
    row.text = udp ? "UDP " + SsEndpoint(local)
                   : "TCP " + SsEndpoint(local) + " " + SsEndpoint(peer) + " " + MapSsState(state);
    row.text += " pid=" + std::to_string(row.pid);
    rows.push_back(row);
  }
  return rows;
}

std::vector<Row> OurRows(const EndpointSnapshot& snapshot) {
  std::vector<Row> rows;
  for (const EndpointRecord& r : snapshot.records) {
    const RowCells c = CellsOf(r);
    Row row;
    row.pid = r.processId;
    row.name = r.processName;
    row.text = r.protocol == kEndpointUdp
                   ? "UDP " + c[kColumnLocal]
                   : "TCP " + c[kColumnLocal] + " " + c[kColumnRemote] + " " + c[kColumnState];
    row.text += " pid=" + std::to_string(row.pid);
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::string> Texts(const std::vector<Row>& a, const std::vector<Row>& b = {}) {
  std::vector<std::string> texts;
  for (const auto* rows : {&a, &b}) {
    for (const Row& r : *rows) texts.push_back(r.text);
  }
  std::sort(texts.begin(), texts.end());
  return texts;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

// Our table and ss's, read while the table held still (connections end, TIME_WAIT expires
// while the tools read it): a snapshot taken between two equal readings of ss.
bool StableTables(std::vector<Row>* ours, std::vector<Row>* ss) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::vector<Row> tcpBefore = SsRows(false), udpBefore = SsRows(true);
    const auto snapshot = BuildEndpointSnapshot();
    if (snapshot == nullptr) return false;
    *ours = OurRows(*snapshot);
    *ss = tcpBefore;
    ss->insert(ss->end(), udpBefore.begin(), udpBefore.end());
    if (Texts(tcpBefore, udpBefore) == Texts(SsRows(false), SsRows(true))) return true;
  }
  return false;
}

class EndpointTables : public ::testing::Test {
 protected:
  void SetUp() override {
    UseBuiltHelper();  // owners and the kill come from the helper
    listener_ = Listener(kServer, &port_);
    ASSERT_GE(listener_, 0);
    client_ = Connect(kClient, listener_, kServer, port_, &server_);  // ESTABLISHED both ways
    halfClient_ = Connect(kClient, listener_, kServer, port_, &halfServer_);
    shutdown(halfClient_, SHUT_WR);  // FIN_WAIT2 here, CLOSE_WAIT at the server
    int closedServer = -1;
    const int closedClient = Connect(kClient, listener_, kServer, port_, &closedServer);
    close(closedClient);  // closes first: TIME_WAIT once the server closes too
    close(closedServer);
    udp_ = UdpSocket(kServer, &udpPort_);
    // Bound, neither listening nor connected: no endpoint, in ss's table or ours.
    uint16_t boundPort = 0;
    bound_ = BoundSocket(SOCK_STREAM, kServer, &boundPort);
    ASSERT_TRUE(client_ >= 0 && server_ >= 0 && halfClient_ >= 0 && halfServer_ >= 0 && udp_ >= 0 &&
                bound_ >= 0);
    // The FIN handshakes on loopback are done once ss shows the states they lead to.
    const std::string server = Endpoint(kServer, port_);
    const std::string half = Endpoint(kClient, LocalPortOf(halfClient_));
    ASSERT_TRUE(WaitUntil(
        [&] {
          const std::vector<std::string> rows = Texts(SsRows(false));
          const auto has = [&](const std::string& part) {
            return std::any_of(rows.begin(), rows.end(), [&](const std::string& row) {
              return row.find(part) != std::string::npos;
            });
          };
          return has(half + " " + server + " FIN_WAIT2") &&
                 has(server + " " + half + " CLOSE_WAIT") && has(" " + server + " TIME_WAIT");
        },
        10000));
  }
  void TearDown() override {
    for (int fd : {listener_, client_, server_, halfClient_, halfServer_, udp_, bound_}) {
      if (fd >= 0) close(fd);
    }
  }

  int listener_ = -1, client_ = -1, server_ = -1, halfClient_ = -1, halfServer_ = -1, udp_ = -1,
      bound_ = -1;
  uint16_t port_ = 0, udpPort_ = 0;
};

TEST_F(EndpointTables, EqualSsForTheWholeTable) {
  std::vector<Row> ss, ours;
  ASSERT_TRUE(StableTables(&ours, &ss)) << "the table never held still between two readings";
  EXPECT_EQ(Texts(ours), Texts(ss));

  // Names: ss shows the task name (15 characters at most); where a process has not renamed
  // its task, that is the start of its executable's file name.
  std::map<uint32_t, std::string> ssNames;
  for (const Row& r : ss) ssNames[r.pid] = r.name;
  for (const Row& r : ours) {
    if (r.pid == 0) {
      EXPECT_EQ(r.name, "System") << r.text;
      continue;
    }
    const std::string comm = ReadFile("/proc/" + std::to_string(r.pid) + "/comm");
    if (comm != r.name.substr(0, 15)) continue;
    EXPECT_EQ(ssNames[r.pid], r.name.substr(0, 15)) << r.text;
  }

  // The test's own endpoints are among them, in every state it made.
  const std::string me = " pid=" + std::to_string(getpid());
  const std::string server = Endpoint(kServer, port_);
  const std::string expected[] = {
      "TCP " + server + " 0.0.0.0:0 LISTENING" + me,
      "TCP " + Endpoint(kClient, LocalPortOf(client_)) + " " + server + " ESTABLISHED" + me,
      "TCP " + server + " " + Endpoint(kClient, LocalPortOf(client_)) + " ESTABLISHED" + me,
      "TCP " + Endpoint(kClient, LocalPortOf(halfClient_)) + " " + server + " FIN_WAIT2" + me,
      "TCP " + server + " " + Endpoint(kClient, LocalPortOf(halfClient_)) + " CLOSE_WAIT" + me,
      "UDP " + Endpoint(kServer, udpPort_) + me};
  const std::vector<std::string> texts = Texts(ours);
  for (const std::string& row : expected) {
    EXPECT_TRUE(std::binary_search(texts.begin(), texts.end(), row)) << row;
  }
  const bool timeWait = std::any_of(texts.begin(), texts.end(), [&](const std::string& t) {
    return t.find(" " + server + " TIME_WAIT pid=0") != std::string::npos;
  });
  EXPECT_TRUE(timeWait);
  for (const Row& r : ours) {
    if (r.pid == uint32_t(getpid())) {
      EXPECT_EQ(r.name, "netstat_system_test");
    }
  }
}

// IPv6 sockets in a namespace of the test's own (its listeners on :: serve nobody else): an
// IPv6-only listener with connections in every state, a dual-stack listener with an IPv4
// client, an IPv6-only listener on ::, UDP on ::1 and dual-stack UDP on ::.
TEST(EndpointTablesIpv6, EqualSsWithEveryKindOfIpv6Socket) {
  if (!IsRoot()) GTEST_SKIP() << "a network namespace needs root";
  FreshNetworkNamespace ns;
  ASSERT_TRUE(ns.entered() && ns.run("ip link set lo up"));
  UseBuiltHelper();
  std::vector<int> fds;
  const auto keep = [&](int fd) {
    fds.push_back(fd);
    return fd;
  };
  uint16_t port = 0, dualPort = 0, onlyPort = 0, udpPort = 0, dualUdpPort = 0;
  const int listener = keep(Listener6("::1", &port));
  int server = -1, halfServer = -1, closedServer = -1, mappedServer = -1;
  const int client = keep(Connect6("::1", listener, "::1", port, &server));
  const int half = keep(Connect6("::1", listener, "::1", port, &halfServer));
  shutdown(half, SHUT_WR);  // FIN_WAIT2 here, CLOSE_WAIT at the server
  close(Connect6("::1", listener, "::1", port, &closedServer));
  close(closedServer);  // TIME_WAIT at the client's end
  const int dual = keep(Listener6("::", &dualPort, false));
  const int ipv4Client = keep(Connect("127.0.0.1", dual, "127.0.0.1", dualPort, &mappedServer));
  keep(Listener6("::", &onlyPort));
  keep(BoundSocket6(SOCK_DGRAM, "::1", &udpPort));
  keep(BoundSocket6(SOCK_DGRAM, "::", &dualUdpPort, false));
  for (const int fd : {server, halfServer, mappedServer}) keep(fd);
  ASSERT_TRUE(std::all_of(fds.begin(), fds.end(), [](int fd) { return fd >= 0; }));

  const std::string me = " pid=" + std::to_string(getpid());
  const std::string v6 = Endpoint6("::1", port);
  const std::string clientEnd = Endpoint6("::1", LocalPortOf6(client));
  const std::string halfEnd = Endpoint6("::1", LocalPortOf6(half));
  const std::string mapped = Endpoint6("::ffff:127.0.0.1", dualPort);
  const std::string mappedClient = Endpoint6("::ffff:127.0.0.1", LocalPortOf(ipv4Client));
  const std::string expected[] = {"TCP " + v6 + " [::]:0 LISTENING" + me,
                                  "TCP " + clientEnd + " " + v6 + " ESTABLISHED" + me,
                                  "TCP " + v6 + " " + clientEnd + " ESTABLISHED" + me,
                                  "TCP " + halfEnd + " " + v6 + " FIN_WAIT2" + me,
                                  "TCP " + v6 + " " + halfEnd + " CLOSE_WAIT" + me,
                                  "TCP " + Endpoint6("::", dualPort) + " [::]:0 LISTENING" + me,
                                  "TCP " + mapped + " " + mappedClient + " ESTABLISHED" + me,
                                  "TCP " + Endpoint("127.0.0.1", LocalPortOf(ipv4Client)) + " " +
                                      Endpoint("127.0.0.1", dualPort) + " ESTABLISHED" + me,
                                  "TCP " + Endpoint6("::", onlyPort) + " [::]:0 LISTENING" + me,
                                  "UDP " + Endpoint6("::1", udpPort) + me,
                                  "UDP " + Endpoint6("::", dualUdpPort) + me};
  std::vector<Row> ss, ours;
  ASSERT_TRUE(WaitUntil([&] {
    const std::vector<std::string> texts = Texts(SsRows(false));
    return std::count_if(texts.begin(), texts.end(), [&](const std::string& t) {
             return t.find(" FIN_WAIT2") != std::string::npos ||
                    t.find(" CLOSE_WAIT") != std::string::npos ||
                    t.find(" TIME_WAIT") != std::string::npos;
           }) == 3;
  }));
  ASSERT_TRUE(StableTables(&ours, &ss)) << "the table never held still between two readings";
  EXPECT_EQ(Texts(ours), Texts(ss));
  const std::vector<std::string> texts = Texts(ours);
  for (const std::string& row : expected) {
    EXPECT_TRUE(std::binary_search(texts.begin(), texts.end(), row)) << row;
  }
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [&](const std::string& t) {
                            return t.find(" " + v6 + " TIME_WAIT pid=0") != std::string::npos;
                          }),
            1);
  for (const int fd : fds) close(fd);
}

// A connection that has gone must not take its server's listener with it: the kernel's lookup
// by addresses falls back to the listener on the local port.
TEST_F(EndpointTables, KillingAGoneConnectionLeavesTheListener) {
  if (!IsRoot()) GTEST_SKIP() << "needs CAP_NET_ADMIN";
  EndpointRecord gone{};
  gone.protocol = kEndpointTcp;
  gone.localAddress = inet_addr(kServer);
  gone.localPort = htons(port_);
  gone.remoteAddress = inet_addr(kClient);
  gone.remotePort = htons(1);
  gone.state = kTcpEstablished;
  EXPECT_EQ(DestroyTcpConnection(gone), ENOENT);
  int accepted = -1;
  const int again = Connect(kClient, listener_, kServer, port_, &accepted);
  EXPECT_GE(accepted, 0) << "the listener was destroyed";
  close(again);
  close(accepted);
}

TEST(ProcessFacts, ReadsAChildAndRefusesWhatIsNoProcess) {
  UseBuiltHelper();
  ChildProcess child({"sleep", "30"});
  // Until the new program's arguments are in place, its command line reads empty.
  ASSERT_TRUE(WaitUntil([&] {
    return ReadFile("/proc/" + std::to_string(child.pid()) + "/cmdline").rfind("sleep", 0) == 0;
  }));
  const uint32_t pid = uint32_t(child.pid());
  char buffer[300];
  EXPECT_EQ(ReadProcessParameter(pid, kSelectCommandLine, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "sleep 30");
  EXPECT_EQ(ReadProcessParameter(pid, kSelectImagePath, buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(buffer), ReadExecutablePath(pid).value_or("?"));
  EXPECT_EQ(std::string(buffer).substr(std::string(buffer).rfind('/')), "/sleep");
  // Too small: the capacity the whole text needs, and the text cut to fit.
  EXPECT_EQ(ReadProcessParameter(pid, kSelectCommandLine, buffer, 6), 9);
  EXPECT_STREQ(buffer, "sleep");
  const uint64_t rss = GetProcessWorkingSet(pid);
  EXPECT_GT(rss, 0u);
  EXPECT_EQ(rss % 1024, 0u);

  child.stop();
  for (const uint32_t none : {pid, 0u, uint32_t(INT_MAX) + 1}) {
    EXPECT_EQ(ReadProcessParameter(none, kSelectImagePath, buffer, sizeof buffer), -1) << none;
    EXPECT_EQ(ReadProcessParameter(none, kSelectCommandLine, buffer, sizeof buffer), -1) << none;
    EXPECT_EQ(GetProcessWorkingSet(none), 0u) << none;
    // 0 and a negative pid_t would signal whole process groups, ours among them.
    EXPECT_EQ(TerminateProcessById(none), TerminateResult::CannotOpen) << none;
  }
}

}  // namespace
