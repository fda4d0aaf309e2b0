// A window on a host reached with ssh beside the ssh commands users type, in one run (root). The
// host is a network namespace of the benchmark's own with an sshd of its own, reached over a
// veth from another of its namespaces, where every ssh runs (the window's and the commands').
//
//   build/default/bench/ssh_bench [connections]   (default 10000)
//
// 1. Connecting: until a Netstat pane on the host shows its first rows, beside `ssh lab true`.
// 2. Netstat over 2 x connections endpoints of the host (half of them IPv6): the pane's Refresh
//    and the snapshot alone, beside `ssh -S CONTROL lab ss -tanp` over an open master
//    connection, and the same snapshot built on the host itself.
// 3. Packet Capture on the host: UDP floods at set rates from the near namespace to the host's
//    address, each datagram counted as the capture session hands it over, beside
//    `ssh lab tcpdump -U -w - udp > FILE` counting the file's packets; and the time until the
//    capture has a lone datagram.
// Medians of several rounds. A side that cannot run ends the benchmark with its reason.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_filter.h"
#include "capture/capture_service.h"
#include "endpoint_holders.h"
#include "host/helper_client.h"
#include "host/host.h"
#include "host/local_netstat.h"
#include "host/ssh_command.h"
#include "host/ssh_host.h"
#include "net_lab.h"
#include "netstat/endpoint_model.h"
#include "netstat/endpoint_source.h"
#include "netstat/netstat_pane.h"
#include "netstat/netstat_service.h"
#include "shell/startup.h"

namespace {

constexpr int kRounds = 7;
constexpr uint16_t kFloodPort = 9999;
constexpr const char* kListenAddress[2] = {"127.0.12.31", "::1"};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "ssh_bench: %s\n", what.c_str());
  std::exit(1);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double TimeMs(const std::function<void()>& work) {
  QElapsedTimer timer;
  timer.start();
  work();
  return double(timer.nsecsElapsed()) / 1e6;
}

// Starts `argv` with its output to `out` (a file, or /dev/null); its process id.
pid_t Start(const std::vector<std::string>& argv, const std::string& out = "/dev/null",
            const std::string& errors = "/dev/null") {
  const pid_t pid = fork();
  if (pid == 0) {
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(o, STDOUT_FILENO);
    dup2(e, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Milliseconds of one run of `argv`, which must succeed.
double RunMs(const std::vector<std::string>& argv) {
  QElapsedTimer timer;
  timer.start();
  if (Wait(Start(argv)) != 0) Fail(argv[0] + " " + argv[1] + " failed");
  return double(timer.nsecsElapsed()) / 1e6;
}

std::string Read(const std::string& file) {
  std::ifstream in(file);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Until the pane shows rows.
void WaitForRows(NetstatPane& pane) {
  while (pane.refreshing() || pane.model()->rowCount() == 0) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
}

// Sends `count` UDP datagrams to the host at `perSecond`, from the near namespace.
void Flood(const std::string& near, int count, int perSecond) {
  NetnsScope scope(near);
  if (!scope.entered()) Fail("cannot enter the near namespace");
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kFloodPort);
  to.sin_addr.s_addr = inet_addr(kLabRouter1);
  const auto start = std::chrono::steady_clock::now();
  const char payload[64] = "flood";
  for (int i = 0; i < count; ++i) {
    const auto due = start + std::chrono::nanoseconds(int64_t(i) * 1000000000 / perSecond);
    while (std::chrono::steady_clock::now() < due) {
    }
    sendto(fd, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  close(fd);
}

// The datagrams of a flood the window's capture on the host hands over.
int CapturedThroughPelorin(Host& host, const std::string& near, int count, int perSecond) {
  CaptureFilter udp;
  udp.includeUdp = 1;
  RunToken stop;
  CaptureOpening opening = host.capture().open(IpAddress::Ipv4(inet_addr(kLabRouter1)), udp, stop);
  if (!opening.session) Fail("no capture on the host: errno " + std::to_string(opening.error));
  std::atomic<int> seen{0};
  std::thread reader([&] {
    CaptureBatch batch;
    while (opening.session->read(batch, 4096, stop)) seen += int(batch.frames.size());
  });
  Flood(near, count, perSecond);
  // What is under way arrives; then the capture ends.
  for (int last = -1; last != seen.load();) {
    last = seen;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  stop.cancel();
  reader.join();
  opening.session->close();
  return seen;
}

// The same flood through `ssh lab tcpdump -U -w - udp > FILE`: the packets in the file.
int CapturedThroughTcpdump(const std::string& dir, const std::string& interface,
                           const std::string& near, int count, int perSecond) {
  const std::string file = dir + "/flood.pcap", errors = dir + "/tcpdump.err";
  const pid_t ssh =
      Start({"ssh", "lab", "tcpdump", "-U", "-n", "-i", interface, "-w", "-", "udp"}, file, errors);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Read(errors).find("listening on") == std::string::npos) {
    if (std::chrono::steady_clock::now() > until) Fail("tcpdump over ssh did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Flood(near, count, perSecond);
  for (off_t last = -1;;) {
    struct stat st {};
    stat(file.c_str(), &st);
    if (st.st_size == last) break;
    last = st.st_size;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  kill(ssh, SIGTERM);
  Wait(ssh);
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* in = pcap_open_offline(file.c_str(), error);
  if (in == nullptr) Fail(std::string("tcpdump's file: ") + error);
  int packets = 0;
  pcap_pkthdr* header;
  const u_char* data;
  while (pcap_next_ex(in, &header, &data) == 1) ++packets;
  pcap_close(in);
  return packets;
}

// Milliseconds until the capture hands over one datagram sent alone.
double LoneDatagramMs(Host& host, const std::string& near) {
  CaptureFilter udp;
  udp.includeUdp = 1;
  RunToken stop;
  CaptureOpening opening = host.capture().open(IpAddress::Ipv4(inet_addr(kLabRouter1)), udp, stop);
  if (!opening.session) Fail("no capture on the host");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  CaptureBatch batch;
  const double ms = TimeMs([&] {
    Flood(near, 1, 1);
    if (!opening.session->read(batch, 1, stop)) Fail("the capture ended");
  });
  opening.session->close();
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  const int connections = argc > 1 ? std::atoi(argv[1]) : 10000;
  if (getuid() != 0) Fail("needs root: namespaces, sshd");
  for (const char* tool : {"/usr/sbin/sshd", "/usr/bin/ssh", "/usr/bin/tcpdump", "/usr/bin/ss"}) {
    if (access(tool, X_OK) != 0) Fail(std::string(tool) + " is not installed");
  }
  signal(SIGPIPE, SIG_IGN);
  NetLab lab;
  if (!lab.ok()) Fail("the namespaces: " + lab.error());
  const std::string near = lab.name(NetLab::kClient);
  // The whole run is the host's, but for the ssh clients, which a wrapper runs in the near one.
  NetnsScope far(lab.name(NetLab::kRouter1));
  if (!far.entered()) Fail("cannot enter the host's namespace");

  char dirTemplate[] = "/tmp/ssh_bench.XXXXXX";
  const std::string dir = mkdtemp(dirTemplate);
  for (const char* key : {"hostkey", "id"}) {
    if (std::system(("ssh-keygen -q -t ed25519 -N '' -f " + dir + "/" + key).c_str()) != 0) {
      Fail("ssh-keygen");
    }
  }
  if (std::system(("cp " + dir + "/id.pub " + dir + "/authorized_keys").c_str()) != 0) {
    Fail("the authorized key");
  }
  std::ofstream(dir + "/ssh_config")
      << "Host lab\n  HostName " << kLabRouter1 << "\n  User root\n  IdentityFile " << dir
      << "/id\n  IdentitiesOnly yes\n  UserKnownHostsFile /dev/null\n"
      << "  StrictHostKeyChecking no\n  LogLevel ERROR\n  ControlPath " << dir << "/control\n";
  std::ofstream(dir + "/ssh") << "#!/bin/sh\nexec ip netns exec " << near << " /usr/bin/ssh -F "
                              << dir << "/ssh_config \"$@\"\n";
  chmod((dir + "/ssh").c_str(), 0755);
  setenv("PATH", (dir + ":" + getenv("PATH")).c_str(), 1);
  mkdir("/run/sshd", 0755);
  const std::string agent = PELORIN_AGENT_PATH;
  const pid_t sshd =
      Start({"/usr/sbin/sshd", "-D", "-e", "-f", "/dev/null", "-h", dir + "/hostkey", "-o",
             std::string("ListenAddress=") + kLabRouter1 + ":22", "-o",
             "AuthorizedKeysFile=" + dir + "/authorized_keys", "-o", "StrictModes=no", "-o",
             "PidFile=none", "-o", "PasswordAuthentication=no", "-o",
             "SetEnv=PATH=" + agent.substr(0, agent.rfind('/')) + ":/usr/bin:/bin:/usr/sbin"});
  for (int i = 0; Wait(Start({"ssh", "lab", "true"})) != 0; ++i) {
    if (i == 100) Fail("sshd did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  UseHelperAt(PELORIN_HELPER_PATH);
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  PrepareApplication(app);
  const SshDestination destination = *ParseSshDestination("lab");

  // 1. Connecting, on a host with its ordinary few endpoints.
  std::vector<double> sshTrue, connect;
  for (int round = 0; round < kRounds; ++round) {
    sshTrue.push_back(RunMs({"ssh", "lab", "true"}));
    connect.push_back(TimeMs([&] {
      std::string failure;
      std::unique_ptr<Host> host = ConnectSshHost(destination, {}, &failure);
      if (!host) Fail("no host over ssh: " + failure);
      NetstatPane pane(nullptr, host->netstat());
      pane.show();
      WaitForRows(pane);
    }));
  }

  // 2. Netstat over the host's large table.
  std::vector<pid_t> holders;
  for (const char* address : kListenAddress) {
    holders.push_back(StartHolder(address, connections / 2));
  }
  std::string failure;
  std::unique_ptr<Host> host = ConnectSshHost(destination, {}, &failure);
  if (!host) Fail("no host over ssh: " + failure);
  NetstatService& remote = host->netstat();
  const auto first = remote.endpoints(nullptr);
  if (!first || first->records.size() < size_t(connections) * 2) Fail("the host's table is short");
  if (std::count_if(first->records.begin(), first->records.end(),
                    [](const EndpointRecord& r) { return r.processId != 0; }) < connections * 2) {
    Fail("the host's helper did not name every owner");
  }
  NetstatPane pane(nullptr, remote);
  pane.show();
  WaitForRows(pane);
  const pid_t master = Start({"ssh", "-M", "-N", "lab"});
  for (int i = 0; Wait(Start({"ssh", "-S", dir + "/control", "-O", "check", "lab"})) != 0; ++i) {
    if (i == 100) Fail("the master connection did not open");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::vector<double> ssOver, snapshotOver, refreshOver, here;
  for (int round = 0; round < kRounds; ++round) {
    ssOver.push_back(RunMs({"ssh", "-S", dir + "/control", "lab", "ss", "-tanp"}));
    snapshotOver.push_back(TimeMs([&] {
      if (!remote.endpoints(nullptr)) Fail("a snapshot over ssh failed");
    }));
    refreshOver.push_back(TimeMs([&] {
      pane.command(kNetstatRefreshId);
      WaitForRows(pane);
    }));
    here.push_back(TimeMs([] { (void)BuildEndpointSnapshot(); }));
  }
  if (pane.model()->rowCount() < connections * 2) Fail("the pane's list lacks the table");
  Wait(Start({"ssh", "-S", dir + "/control", "-O", "exit", "lab"}));
  Wait(master);
  for (const pid_t holder : holders) {
    kill(holder, SIGTERM);
    Wait(holder);
  }

  // 3. Packet Capture on the host.
  const std::string shown = [&] {
    FILE* p = popen((std::string("ip -o -4 addr show to ") + kLabRouter1).c_str(), "r");
    char line[512] = {};
    if (p == nullptr || fgets(line, sizeof line, p) == nullptr) Fail("the host's interface");
    pclose(p);
    return std::string(line);
  }();
  const std::string interface =
      shown.substr(shown.find(' ') + 1, shown.find(' ', shown.find(' ') + 1) - shown.find(' ') - 1);
  struct Rate {
    int perSecond, pelorin, tcpdump;
  };
  std::vector<Rate> rates;
  for (const int perSecond : {10000, 30000, 100000}) {
    const int count = perSecond;  // one second each
    rates.push_back({perSecond, CapturedThroughPelorin(*host, near, count, perSecond),
                     CapturedThroughTcpdump(dir, interface, near, count, perSecond)});
  }
  std::vector<double> lone;
  for (int round = 0; round < kRounds; ++round) lone.push_back(LoneDatagramMs(*host, near));

  std::printf("\nA host reached with ssh over a veth, %d rounds, medians\n", kRounds);
  std::printf("  %-52s %8.1f ms\n", "ssh lab true", Median(sshTrue));
  std::printf("  %-52s %8.1f ms  %5.2fx ssh lab true\n",
              "connect until a Netstat pane shows its first rows", Median(connect),
              Median(connect) / Median(sshTrue));
  std::printf("\nNetstat over %zu endpoints of the host\n", first->records.size());
  std::printf("  %-52s %8.1f ms\n", "ssh -S CONTROL lab ss -tanp > /dev/null", Median(ssOver));
  std::printf("  %-52s %8.1f ms  %5.2fx ssh -S ... ss -tanp\n", "snapshot over ssh",
              Median(snapshotOver), Median(snapshotOver) / Median(ssOver));
  std::printf("  %-52s %8.1f ms  %5.2fx ssh -S ... ss -tanp\n", "Refresh of the pane over ssh",
              Median(refreshOver), Median(refreshOver) / Median(ssOver));
  std::printf("  %-52s %8.1f ms\n", "the same snapshot built on the host itself", Median(here));
  std::printf("\nCapture on the host's %s, UDP floods of one second\n", interface.c_str());
  for (const Rate& r : rates) {
    std::printf(
        "  %7d/s sent: Pelorin over ssh %7d (%5.1f%%), ssh tcpdump -U -w - %7d (%5.1f%%)"
        "  %5.2fx\n",
        r.perSecond, r.pelorin, 100.0 * r.pelorin / r.perSecond, r.tcpdump,
        100.0 * r.tcpdump / r.perSecond, r.tcpdump ? double(r.pelorin) / r.tcpdump : 0.0);
  }
  std::printf("  %-52s %8.1f ms\n", "a lone datagram until the capture has it", Median(lone));

  host.reset();
  kill(sshd, SIGTERM);
  Wait(sshd);
  if (std::system(("rm -rf " + dir).c_str()) != 0) Fail("cannot remove " + dir);
  return 0;
}
