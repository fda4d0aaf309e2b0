// Start-up on hosts with many addresses: the main window built with its nine panes (everything
// the program does before the window shows, but the splash's pause) in network namespaces with
// 10, 1,000 and 4,000 IPv4 addresses, one per veth pair, and 4,000 as IPv4 or as IPv6 aliases on
// one interface; beside `ip -o addr show`, which lists the same addresses of both families. Then
// NetInfo's Refresh over 2,000 adapters beside `ip -o link show`. The window is built on the UI
// thread, so its building time is also the longest stall of the UI. Needs root (namespaces); fails
// when a side cannot run.
//
//   build/default/bench/startup_bench
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "host/helper_client.h"
#include "host/host.h"
#include "netinfo/netinfo_pane.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "sys/local_addresses.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "startup_bench: %s\n", why.c_str());
  std::exit(1);
}

// The median of `rounds` timings of `work`, in milliseconds.
double MedianMs(int rounds, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) Fail("failed: " + command);
}

// The calling thread in a new, empty network namespace until the object goes; commands it runs
// are born there too.
class Namespace {
 public:
  Namespace() {
    home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (home_ < 0 || unshare(CLONE_NEWNET) != 0) Fail("cannot make a network namespace");
  }
  ~Namespace() {
    if (setns(home_, CLONE_NEWNET) != 0) std::abort();  // never go on elsewhere
    close(home_);
  }
  Namespace(const Namespace&) = delete;
  Namespace& operator=(const Namespace&) = delete;

 private:
  int home_ = -1;
};

std::string AddressText(int i) {
  return "198.18." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
}

// Feeds `ip -batch` the lines: `pairs` veth pairs, the first `addressed` of them with one address
// each, and `aliases` addresses more on the first pair's interface (IPv6 ones from 2001:2::/48
// with `ipv6Aliases`).
void MakeAddresses(int pairs, int addressed, int aliases, bool ipv6Aliases = false) {
  char path[] = "/tmp/pelorin-startup-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) Fail("cannot write the ip batch");
  std::string batch = "link set lo up\n";
  for (int i = 0; i < pairs; ++i) {
    const std::string v = "v" + std::to_string(i);
    batch += "link add " + v + " type veth peer name w" + std::to_string(i) + "\n";
    batch += "link set " + v + " up\n";
    if (i < addressed) batch += "addr add " + AddressText(i) + "/32 dev " + v + "\n";
  }
  for (int i = 0; i < aliases; ++i) {
    batch += ipv6Aliases ? "addr add 2001:2::" + std::to_string(i + 1) + "/128 dev v0 nodad\n"
                         : "addr add " + AddressText(4000 + i) + "/32 dev v0\n";
  }
  const bool written = write(fd, batch.data(), batch.size()) == ssize_t(batch.size());
  close(fd);
  if (!written) Fail("cannot write the ip batch");
  Run(std::string("ip -batch ") + path);
  unlink(path);
}

void StartUpRow(const char* layout, int pairs, int addressed, int aliases, bool ipv6Aliases,
                double* windowMs) {
  Namespace scope;
  MakeAddresses(pairs, addressed, aliases, ipv6Aliases);
  const int listed = int(LocalAddressList().addresses().size());
  // Loopback's 127.0.0.1 and ::1 besides; link-local addresses are not listed.
  if (listed != addressed + aliases + 2) Fail("the namespace holds another number of addresses");
  const double ip = MedianMs(5, [] { Run("ip -o addr show >/dev/null"); });
  const double window = MedianMs(5, [] {
    MainWindow window;
    QApplication::processEvents();
  });
  std::printf("%-36s %6d %12.1f %14.1f\n", layout, listed, window, ip);
  *windowMs = window;
}

}  // namespace

int main(int argc, char** argv) {
  if (geteuid() != 0) Fail("needs root for its network namespaces");
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  UseHelperAt(PELORIN_HELPER_PATH);  // the Ping pane asks it at its start where pings need it

  std::printf("start-up to the main window (median of 5), milliseconds\n\n");
  std::printf("%-36s %6s %12s %14s\n", "addresses", "listed", "main window", "ip addr show");
  double few = 0, pairs1000 = 0, pairs4000 = 0, aliases4000 = 0, ipv6Aliases4000 = 0;
  StartUpRow("10, one per veth pair", 10, 10, 0, false, &few);
  StartUpRow("1,000, one per veth pair", 1000, 1000, 0, false, &pairs1000);
  StartUpRow("4,000, one per veth pair", 4000, 4000, 0, false, &pairs4000);
  StartUpRow("4,000 aliases on one interface", 1, 1, 3999, false, &aliases4000);
  StartUpRow("4,000 IPv6 aliases on one interface", 1, 1, 3999, true, &ipv6Aliases4000);
  std::printf(
      "\ngrowth from 10 to 4,000 addresses: %.1f ms (veth pairs), %.1f ms (aliases), %.1f ms"
      " (IPv6 aliases); aim: under 100 ms\n",
      pairs4000 - few, aliases4000 - few, ipv6Aliases4000 - few);

  Namespace scope;
  MakeAddresses(1000, 0, 0);
  NetInfoPane pane(nullptr, WindowHost().netinfo());
  const auto settle = [&] {
    while (pane.busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  };
  settle();
  const int adapters = FindControl<QComboBox>(&pane, kAdapterListId)->count();
  if (adapters != 2000) Fail("NetInfo lists another number of adapters");
  const double refresh = MedianMs(5, [&] {
    pane.command(kNetInfoRefreshId);
    settle();
  });
  const double ip = MedianMs(5, [] { Run("ip -o link show >/dev/null"); });
  pane.closeModule();
  std::printf("\nNetInfo Refresh over %d adapters: %.1f ms; ip -o link show: %.1f ms\n", adapters,
              refresh, ip);
  return 0;
}
