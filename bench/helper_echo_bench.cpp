// One ICMP echo to 127.0.0.1 through pelorin-helper (what the window does where the ICMP
// datagram socket is refused) beside the same echo on a raw socket of this process, and the
// system's ping, in one run. Root: the run moves into a network namespace of its own, whose
// loopback is the only way out and which refuses ICMP datagram sockets.
//
//   build/default/bench/helper_echo_bench [echoes per side]   (default 300)
//
// The sides take turns, one echo each, in bursts of 50 as a trace sends them, with a second's
// pause after each burst so that the helper's hundred echoes a second are never reached. Each
// echo is timed from the call to its return.
#include <arpa/inet.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "host/helper_client.h"
#include "host/local_echo.h"
#include "ping/echo.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "helper_echo_bench: %s\n", why.c_str());
  std::exit(1);
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[size_t(fraction * double(values.size() - 1))];
}

// Microseconds of one echo; fails the run when the echo was not answered.
double TimeEcho(const std::function<int(EchoResult*)>& echo, const char* side) {
  EchoResult result;
  const Clock::time_point start = Clock::now();
  const int answered = echo(&result);
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  if (answered != 1 || result.status != kEchoSuccess) {
    Fail(std::string(side) + ": an echo failed with status " + std::to_string(result.status));
  }
  return us;
}

// The system's ping: its own round-trip figures (microseconds) for `count` echoes.
std::vector<double> SystemPing(int count) {
  const std::string command = "ping -n -i 0.01 -c " + std::to_string(count) + " 127.0.0.1 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) Fail("ping does not run");
  std::vector<double> times;
  static const std::regex time(R"(time=([0-9.]+) ms)");
  char line[512];
  while (fgets(line, sizeof line, pipe)) {
    std::cmatch m;
    if (std::regex_search(line, m, time)) times.push_back(std::stod(m[1]) * 1000);
  }
  pclose(pipe);
  if (int(times.size()) != count) Fail("ping answered " + std::to_string(times.size()) + " echoes");
  return times;
}

void Print(const char* name, const std::vector<double>& us) {
  std::printf("  %-44s median %7.1f us   90th %7.1f us\n", name, Percentile(us, 0.5),
              Percentile(us, 0.9));
}

}  // namespace

int main(int argc, char** argv) {
  const int echoes = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
  if (geteuid() != 0) Fail("needs root (a network namespace and a raw socket of its own)");
  if (unshare(CLONE_NEWNET) != 0) Fail("cannot make a network namespace");
  if (std::system("ip link set lo up") != 0) Fail("cannot bring loopback up");
  UseHelperAt(PELORIN_HELPER_PATH);
  if (LoadEchoService() != 1 || LoadedEchoSocketKind() != EchoSocketKind::Raw) {
    Fail("the helper cannot send echoes");
  }
  const uint32_t loopback = htonl(INADDR_LOOPBACK);
  const auto throughHelper = [&](EchoResult* r) { return SendEcho(loopback, 64, 3000, r); };
  const auto inProcess = [&](EchoResult* r) {
    return SendEchoOnSocket(OpenEchoSocket(EchoSocketKind::Raw), EchoSocketKind::Raw,
                            IpAddress::Ipv4(loopback), 64, 3000, r, nullptr, -1);
  };
  TimeEcho(throughHelper, "through the helper");  // its start-up is paid once per session
  TimeEcho(inProcess, "in this process");

  std::vector<double> helper, process;
  for (int i = 0; i < echoes; ++i) {
    if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::seconds(1));
    helper.push_back(TimeEcho(throughHelper, "through the helper"));
    process.push_back(TimeEcho(inProcess, "in this process"));
  }
  const std::vector<double> ping = SystemPing(std::min(echoes, 100));

  std::printf("one echo to 127.0.0.1, %d per side, taking turns:\n", echoes);
  Print("through pelorin-helper (raw socket there)", helper);
  Print("in this process (raw socket here)", process);
  Print("ping -i 0.01 (its own round-trip times)", ping);
  std::printf("  %-44s median %7.1f us\n", "added by the helper",
              Percentile(helper, 0.5) - Percentile(process, 0.5));
  return 0;
}
