// A Netstat refresh over a large table beside `ss -tanp` on the same table, in one run: 10,000
// loopback TCP connections (20,000 endpoints) held by two processes, since one process may
// hold at most 20,000 descriptors here; one holds its connections over IPv4, the other over
// IPv6, so half of the endpoints are IPv6 ones.
//
//   build/default/bench/netstat_bench [connections]   (default 10000)
//
// Timed: building the snapshot alone (netlink dumps, every owner from /proc through
// pelorin-helper), the same with the owners read in this process (root, no helper), and the
// snapshot with the list filled and sorted (as a refresh shows it); the UI thread's part of a
// refresh alone (the snapshot is built on a worker); the same snapshot through this build's
// pelorin-agent over pipes (which asks its own helper), and a whole refresh of the pane in
// process and through the agent (the Refresh button until the list shows the table); `ss -tanp`
// and `ss -tan` writing to /dev/null. Medians of several rounds, the sides taking turns; also
// the memory the snapshot holds. A side that cannot run ends the benchmark with its reason.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "endpoint_holders.h"
#include "host/agent_host.h"
#include "host/helper_client.h"
#include "host/host.h"
#include "host/local_netstat.h"
#include "netstat/endpoint_model.h"
#include "netstat/endpoint_source.h"
#include "netstat/netstat_actions.h"
#include "netstat/netstat_pane.h"
#include "netstat/netstat_service.h"
#include "shell/startup.h"

namespace {

constexpr int kHolders = 2;
constexpr int kRounds = 9;
constexpr const char* kListenAddress[kHolders] = {"127.0.12.31", "::1"};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "netstat_bench: %s\n", what);
  std::exit(1);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Milliseconds of one run of `argv` with its output to /dev/null; exits if it cannot run.
double RunMs(const std::vector<const char*>& argv) {
  QElapsedTimer timer;
  timer.start();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    execvp(argv[0], const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("ss did not run");
  return double(timer.nsecsElapsed()) / 1e6;
}

double TimeMs(const std::function<void()>& work) {
  QElapsedTimer timer;
  timer.start();
  work();
  return double(timer.nsecsElapsed()) / 1e6;
}

// The rows of a snapshot as the list shows them, in snapshot order.
std::vector<std::string> ShownLines(const EndpointSnapshot& snapshot) {
  std::vector<std::string> lines;
  lines.reserve(snapshot.records.size());
  for (const EndpointRecord& r : snapshot.records) lines.push_back(FormatRowLine(CellsOf(r)));
  return lines;
}

// One press of Refresh until the list shows the new table.
double RefreshMs(NetstatPane& pane) {
  return TimeMs([&] {
    pane.command(kNetstatRefreshId);
    while (pane.refreshing()) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  });
}

size_t SsLines(const char* command) {
  FILE* pipe = popen(command, "r");
  if (pipe == nullptr) Fail("ss did not run");
  size_t lines = 0;
  for (int c; (c = fgetc(pipe)) != EOF;) lines += c == '\n';
  pclose(pipe);
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  const int connections = argc > 1 ? std::atoi(argv[1]) : 10000;
  if (connections < kHolders) Fail("give the number of connections");
  signal(SIGPIPE, SIG_IGN);
  std::vector<pid_t> holders;
  for (int i = 0; i < kHolders; ++i) {
    holders.push_back(StartHolder(kListenAddress[i], connections / kHolders));
  }

  UseHelperAt(PELORIN_HELPER_PATH);
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  PrepareApplication(app);
  NetstatPane pane(nullptr, WindowHost().netstat());
  pane.show();
  while (pane.refreshing()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

  const auto snapshot = BuildEndpointSnapshot();
  if (!snapshot) Fail("no snapshot");
  const size_t tcp = size_t(std::count_if(snapshot->records.begin(), snapshot->records.end(),
                                          [](const EndpointRecord& r) { return r.protocol == 0; }));
  const size_t ipv6 = size_t(std::count_if(snapshot->records.begin(), snapshot->records.end(),
                                           [](const EndpointRecord& r) { return r.ipv6; }));
  const size_t ssRows = SsLines("ss -tanH");
  if (tcp < size_t(connections) * 2 || ssRows < size_t(connections) * 2 ||
      ipv6 < size_t(connections / kHolders) * 2) {
    Fail("the table does not hold the connections");
  }
  if (RunningHelperId() == 0) Fail("the owners did not come through the helper");
  const auto owned = [](const EndpointSnapshot& s) {
    return std::count_if(s.records.begin(), s.records.end(),
                         [](const EndpointRecord& r) { return r.processId != 0; });
  };
  if (owned(*snapshot) < connections * 2) Fail("the helper did not name every owner");

  // The same table through the agent: the same rows, every owner named by the agent's helper.
  std::string failure;
  const std::unique_ptr<Host> agent = ConnectAgent({PELORIN_AGENT_PATH}, &failure);
  if (!agent) Fail(("the agent did not start: " + failure).c_str());
  NetstatService& remote = agent->netstat();
  const auto agentSnapshot = remote.endpoints(nullptr);
  if (!agentSnapshot) Fail("no snapshot through the agent");
  if (owned(*agentSnapshot) < connections * 2) Fail("the agent's helper did not name every owner");
  if (ShownLines(*agentSnapshot) != ShownLines(*snapshot)) {
    Fail("the agent's rows are not this process's");
  }
  NetstatPane agentPane(nullptr, remote);
  agentPane.show();
  while (agentPane.refreshing()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  if (agentPane.model()->rowCount() < connections * 2) Fail("the agent's pane lacks the table");

  std::vector<double> ssp, ss, build, local, refresh, show, resort, through, paneHere, paneThere;
  for (int round = 0; round < kRounds; ++round) {
    ssp.push_back(RunMs({"ss", "-tanp", nullptr}));
    ss.push_back(RunMs({"ss", "-tan", nullptr}));
    build.push_back(TimeMs([] { (void)BuildEndpointSnapshot(); }));
    through.push_back(TimeMs([&] {
      if (!remote.endpoints(nullptr)) Fail("a snapshot through the agent failed");
    }));
    paneHere.push_back(RefreshMs(pane));
    paneThere.push_back(RefreshMs(agentPane));
    refresh.push_back(TimeMs([&] {
      pane.showSnapshot(BuildEndpointSnapshot());
      QCoreApplication::processEvents();  // the view lays out and paints the new rows
    }));
    // What the UI thread does once the worker has the tables: the window's only pause.
    std::shared_ptr<const EndpointSnapshot> ready = BuildEndpointSnapshot();
    show.push_back(TimeMs([&] {
      pane.showSnapshot(std::move(ready));
      QCoreApplication::processEvents();
    }));
    resort.push_back(TimeMs([&] {
      pane.model()->sortRows(kColumnLocal, round % 2 == 0);
      QCoreApplication::processEvents();
    }));
  }

  // Without a helper the process reads the owners itself (as root: all of them).
  UseHelperAt("/nonexistent/pelorin-helper");
  for (int round = 0; round < kRounds; ++round) {
    local.push_back(TimeMs([] { (void)BuildEndpointSnapshot(); }));
  }

  // The timed refresh must have shown the table, or it measured something else.
  if (pane.model()->rowCount() < connections * 2 ||
      agentPane.model()->rowCount() < connections * 2) {
    Fail("the pane's list does not hold the table");
  }
  const double sspMs = Median(ssp);
  std::printf(
      "\nTCP endpoints: %zu (ss -tan lists %zu), IPv6 ones: %zu, all endpoints: %zu, %d rounds, "
      "medians\n",
      tcp, ssRows, ipv6, snapshot->records.size(), kRounds);
  std::printf("  %-44s %8.1f ms\n", "ss -tanp > /dev/null", sspMs);
  std::printf("  %-44s %8.1f ms\n", "ss -tan > /dev/null (no owners)", Median(ss));
  std::printf("  %-44s %8.1f ms  %5.2fx ss -tanp\n", "snapshot, owners through the helper",
              Median(build), Median(build) / sspMs);
  std::printf("  %-44s %8.1f ms  %5.2fx ss -tanp\n", "snapshot, owners read in this process",
              Median(local), Median(local) / sspMs);
  std::printf("  %-44s %8.1f ms  %5.2fx ss -tanp  %5.2fx in process\n",
              "snapshot through the agent over pipes", Median(through), Median(through) / sspMs,
              Median(through) / Median(build));
  std::printf("  %-44s %8.1f ms  %5.2fx ss -tanp\n", "Refresh of the pane, in process",
              Median(paneHere), Median(paneHere) / sspMs);
  std::printf("  %-44s %8.1f ms  %5.2fx ss -tanp  %5.2fx in process\n",
              "Refresh of the pane through the agent", Median(paneThere), Median(paneThere) / sspMs,
              Median(paneThere) / Median(paneHere));
  std::printf("  %-44s %8.1f ms  %5.2fx ss -tanp\n", "snapshot, list filled and sorted",
              Median(refresh), Median(refresh) / sspMs);
  std::printf("  %-44s %8.1f ms\n", "UI thread: list filled, sorted and painted", Median(show));
  std::printf("  %-44s %8.1f ms\n", "re-sort by a clicked column", Median(resort));
  const double snapshotBytes =
      double(snapshot->records.capacity() * sizeof(EndpointRecord) + sizeof(EndpointSnapshot));
  std::printf("  %-44s %8.2f MB (%zu bytes a record; the list adds 4 bytes a row)\n",
              "memory of the snapshot", snapshotBytes / 1e6, sizeof(EndpointRecord));

  for (const pid_t holder : holders) {
    kill(holder, SIGTERM);
    waitpid(holder, nullptr, 0);
  }
  return 0;
}
