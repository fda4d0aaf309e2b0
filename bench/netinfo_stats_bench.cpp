// One statistics tick of the NetInfo pane (ten times a second, read off the UI thread), beside
// the ways users and other programs read the same counters: the files opened afresh at every
// reading, and `ip -s link show dev <if>`. The machine's first adapter that is up is read.
//
//   build/default/bench/netinfo_stats_bench
#include <fcntl.h>
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

#include "host/host.h"
#include "netinfo/netinfo_pane.h"
#include "netinfo/netinfo_system.h"
#include "shell/controls.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  double median = 0;  // microseconds
  double p99 = 0;
  double worst = 0;
};

Figures Measure(int rounds, const std::function<bool()>& tick) {
  std::vector<double> times;
  times.reserve(size_t(rounds));
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    if (!tick()) {
      std::fprintf(stderr, "a reading failed\n");
      std::exit(1);
    }
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times[times.size() * 99 / 100], times.back()};
}

void Report(const char* what, const Figures& f) {
  std::printf("%-44s %10.1f %10.1f %10.1f\n", what, f.median, f.p99, f.worst);
}

// The four values read the plain way: each file opened, read and closed.
bool ReadFresh(const std::string& name) {
  static const char* kFiles[] = {"operstate", "speed", "statistics/rx_bytes",
                                 "statistics/tx_bytes"};
  for (const char* file : kFiles) {
    const int fd = open(("/sys/class/net/" + name + "/" + file).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[64];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    close(fd);
    if (n < 0 && file[0] != 's') return false;  // speed may not be known
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  const std::optional<std::vector<AdapterRecord>> adapters = ReadAdapters();
  if (!adapters || adapters->empty()) {
    std::fprintf(stderr, "no adapter besides loopback to read\n");
    return 1;
  }
  const auto up = std::find_if(adapters->begin(), adapters->end(), [](const AdapterRecord& a) {
    return (a.flags & 1) != 0;
  });  // IFF_UP
  const AdapterRecord& adapter = up != adapters->end() ? *up : adapters->front();
  std::printf("adapter %s (index %d), microseconds per reading\n\n", adapter.name.c_str(),
              adapter.index);
  std::printf("%-44s %10s %10s %10s\n", "", "median", "p99", "worst");

  InterfaceStatsReader reader("/sys/class/net");
  InterfaceStatistics reading;
  const auto readOnce = [&] { return reader.read(adapter.index, adapter.name, reading); };
  readOnce();  // opens the files
  Report("Pelorin: statistics reader (files kept open)", Measure(20000, readOnce));

  NetInfoPane pane(nullptr, WindowHost().netinfo());
  while (pane.busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  auto* list = FindControl<QComboBox>(&pane, kAdapterListId);
  list->setCurrentIndex(list->findData(adapter.index));
  if (list->currentText().toStdString() != adapter.name) {
    std::fprintf(stderr, "the pane does not list the adapter\n");
    return 1;
  }
  // A tick until its reading is shown: the worker's round trip to the UI thread included.
  const auto tick = [&] {
    pane.UpdateStatistics();
    while (pane.readingStatistics()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
  };
  tick();
  Report("Pelorin: whole pane tick (read, format, show)", Measure(20000, tick));
  pane.closeModule();

  Report("the same files opened afresh each reading",
         Measure(20000, [&] { return ReadFresh(adapter.name); }));

  const std::string ip = "ip -s link show dev " + adapter.name + " >/dev/null 2>&1";
  Report("ip -s link show dev <if> (a process)",
         Measure(200, [&] { return std::system(ip.c_str()) == 0; }));

  std::printf("\ncounters read: %llu bytes received, %llu sent\n",
              static_cast<unsigned long long>(reading.receivedBytes),
              static_cast<unsigned long long>(reading.sentBytes));
  return 0;
}
