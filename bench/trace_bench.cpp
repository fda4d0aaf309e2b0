// A trace through four hops of network namespaces (three routers and the target), timed for
// Pelorin's trace and for the system's traceroute and tracepath over the same path, in one run.
// Needs root. Usage: trace_bench [RUNS]   (default 20)
//
// Every side runs as its own process under "ip netns exec", so each pays the same start-up;
// Pelorin's trace is also timed inside this process, without that cost. Pelorin's echoes go
// through its helper (the namespace refuses ICMP datagram sockets), which sends at most a
// hundred a second: the in-process runs pause between traces, outside the time measured.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/helper_client.h"
#include "host/local_echo.h"
#include "net_lab.h"
#include "ping/echo.h"
#include "ping/ping_trace.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string OneTrace(uint32_t destination) {
  std::string text;
  RunTrace([&](int ttl, uint32_t timeoutMs,
               EchoResult* result) { return SendEcho(destination, ttl, timeoutMs, result); },
           [&](const std::string& s) { text += s; }, [] { return false; });
  return text;
}

// Output of a command line.
std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

// One side of the comparison: a command that runs one trace and prints it, and `mark`, the text
// that shows the target answered.
struct Side {
  std::string name;
  std::function<std::string()> trace;
  std::string mark;
  double spentMs = 0;
  bool reached = true;
  std::string missed{};  // the output of a run that did not reach the target
};

// Runs every side `runs` times, taking turns so that a change in the machine's load falls on all
// of them alike.
void TimeInTurns(std::vector<Side>& sides, int runs, int pauseMs = 0) {
  for (Side& side : sides) side.trace();  // warm-up: caches, neighbour tables
  for (int i = 0; i < runs; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    for (Side& side : sides) {
      const Clock::time_point start = Clock::now();
      const std::string output = side.trace();
      side.spentMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      if (output.find(side.mark) == std::string::npos && side.reached) {
        side.reached = false;
        side.missed = output;
      }
    }
  }
  for (Side& side : sides) side.spentMs /= runs;
}

// A side that did not trace to the target measured something else: no ratio is printed then.
bool AllReached(const std::vector<Side>& sides) {
  bool all = true;
  for (const Side& side : sides) {
    if (side.reached) continue;
    std::fprintf(stderr, "trace_bench: %s did not reach the target:\n%s\n", side.name.c_str(),
                 side.missed.c_str());
    all = false;
  }
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  UseHelperAt(PELORIN_HELPER_PATH);
  if (argc == 3 && std::string(argv[1]) == "--trace") {  // the child side: one trace, printed
    if (LoadEchoService() == 0) return 1;
    std::fputs(OneTrace(LabAddress(argv[2])).c_str(), stdout);
    return 0;
  }
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  if (geteuid() != 0) {
    std::fprintf(stderr, "trace_bench needs root (network namespaces)\n");
    return 1;
  }
  NetLab lab;
  if (!lab.ok()) {
    std::fprintf(stderr, "the namespaces could not be built:\n%s", lab.error().c_str());
    return 1;
  }
  const std::string inClient = "ip netns exec " + lab.name(NetLab::kClient) + " ";
  const std::string target = kLabTarget;
  const std::string self = "/proc/" + std::to_string(getpid()) + "/exe";
  const std::string pelorinMark = "4    " + target;

  std::vector<Side> sides = {
      {"pelorin trace", [&] { return Capture(inClient + self + " --trace " + target); },
       pelorinMark},
      {"traceroute -n -q 1 -w 2",
       [&] { return Capture(inClient + "traceroute -n -q 1 -w 2 " + target); }, " 4  " + target},
      {"traceroute -I -n -q 1 -w 2",
       [&] { return Capture(inClient + "traceroute -I -n -q 1 -w 2 " + target); }, " 4  " + target},
      {"tracepath -n", [&] { return Capture(inClient + "tracepath -n " + target); }, "reached"},
      {"ip netns exec ... true", [&] { return Capture(inClient + "true"); }, ""},
  };
  TimeInTurns(sides, runs);
  const Side startUp = sides.back();
  sides.pop_back();

  std::vector<Side> inProcess = {
      {"pelorin trace, in process", [] { return OneTrace(LabAddress(kLabTarget)); }, pelorinMark}};
  {
    NetnsScope client(lab.name(NetLab::kClient));
    if (!client.entered() || LoadEchoService() == 0) {
      std::fprintf(stderr, "trace_bench: no echo service in the client namespace\n");
      return 1;
    }
    TimeInTurns(inProcess, runs, 50);
  }
  if (!AllReached(sides) || !AllReached(inProcess)) return 1;

  // "net" leaves out the start-up every side pays: the time of "ip netns exec ... true".
  std::printf("trace to %s over 4 hops, %d runs each; start-up %.2f ms per process\n\n", kLabTarget,
              runs, startUp.spentMs);
  std::printf("%-28s %10s %10s %14s\n", "", "ms/trace", "net ms", "net vs pelorin");
  const double ours = std::max(0.001, sides[0].spentMs - startUp.spentMs);
  for (const Side& side : sides) {
    const double net = std::max(0.0, side.spentMs - startUp.spentMs);
    std::printf("%-28s %10.2f %10.2f %13.2fx\n", side.name.c_str(), side.spentMs, net, net / ours);
  }
  std::printf("%-28s %10.3f\n", inProcess[0].name.c_str(), inProcess[0].spentMs);
  return 0;
}
