// Packet capture under a UDP flood on loopback, beside tcpdump -w /dev/null on the same flood,
// in one run. Root: the run moves into a network namespace of its own (its own loopback, gone
// with the process), so no other traffic is captured and nothing leaves it.
//
//   build/default/bench/capture_bench [seconds per side]   (default 3)
//
// 1. The capture engine alone (read, decode, filter; no display), in this process: immediate
//    mode beside the ring's block time-out, at two kernel buffer sizes; then the same engine in
//    pelorin-helper, its stream read, decoded and judged here, as the pane's worker does: packets
//    read per second, kernel drops, and the longest delay of a lone packet.
// 2. The Packet Capture pane, whose capture the helper opens: (a) every flood packet shown ("All
//    Data", packet info), also at a paced 5,000 packets per second; (b) the flood filtered out,
//    a trickle of wanted packets among it. Shown packets per second, kernel drops, the UI's
//    longest stall, and tcpdump's figures on the same flood as ratios.
// Kernel drops are the kernel's own count, which on loopback counts each lost packet twice
// (once leaving, once arriving); tcpdump's are counted the same way.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_pane.h"
#include "capture/capture_socket.h"
#include "capture/capture_stream.h"
#include "capture/filter_rules.h"
#include "helper/helper_client.h"
#include "shell/controls.h"
#include "shell/output.h"
#include "shell/startup.h"
#include "shell/ui_thread.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kFloodPort = 9;
constexpr uint16_t kWantedPort = 7;
const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "capture_bench: %s\n", why.c_str());
  std::exit(1);
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// UDP datagrams of 32 bytes to 127.0.0.1:9 from one thread, as fast as the system takes them or
// at a fixed rate; a trickle to port 7 every `trickleEvery` datagrams when asked. A socket bound
// to port 9 takes them (and drops what it cannot hold), so no ICMP answers add to the traffic.
class Flood {
 public:
  Flood(double seconds, int perSecond = 0, int trickleEvery = 0) {
    sink_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at = Address(kFloodPort);
    if (bind(sink_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) Fail("cannot bind port 9");
    thread_ = std::thread([=, this] { run(seconds, perSecond, trickleEvery); });
  }
  ~Flood() { wait(); }
  void wait() {
    if (thread_.joinable()) thread_.join();
    if (sink_ >= 0) close(sink_);
    sink_ = -1;
  }
  bool done() const { return done_; }
  long sent() const { return sent_; }
  long trickled() const { return trickled_; }
  double seconds() const { return seconds_; }

 private:
  static sockaddr_in Address(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
  }
  void run(double seconds, int perSecond, int trickleEvery) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in flood = Address(kFloodPort), wanted = Address(kWantedPort);
    const char payload[32] = "flood flood flood flood flood..";
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    for (long n = 0;; ++n) {
      const auto now = Clock::now();
      if (now >= end) break;
      if (perSecond > 0) {
        const auto due = start + std::chrono::duration<double>(double(n) / perSecond);
        if (due > now) std::this_thread::sleep_until(due);
      }
      const bool trickle = trickleEvery > 0 && n % trickleEvery == 0;
      sockaddr_in& to = trickle ? wanted : flood;
      if (sendto(fd, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
          ssize_t(sizeof payload)) {
        ++(trickle ? trickled_ : sent_);
      }
    }
    seconds_ = Seconds(Clock::now() - start);
    close(fd);
    done_ = true;
  }

  int sink_ = -1;
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::atomic<long> sent_{0};
  std::atomic<long> trickled_{0};
  double seconds_ = 0;
};

struct Figures {
  double perSecond = 0;
  long packets = 0;
  long dropped = 0;
};

// tcpdump -i lo -w /dev/null during a flood; its own counts from what it prints at the end.
Figures TcpdumpSide(double seconds) {
  int out[2];
  if (pipe(out) != 0) Fail("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    close(out[0]);
    execlp("tcpdump", "tcpdump", "-i", "lo", "-w", "/dev/null", nullptr);
    _exit(127);
  }
  close(out[1]);
  FILE* text = fdopen(out[0], "r");
  std::string printed;
  char line[512];
  while (printed.find("listening on") == std::string::npos && fgets(line, sizeof line, text)) {
    printed += line;
  }
  if (printed.find("listening on") == std::string::npos) Fail("tcpdump did not start: " + printed);
  Flood flood(seconds);
  flood.wait();
  usleep(200 * 1000);
  kill(pid, SIGINT);
  while (fgets(line, sizeof line, text)) printed += line;
  fclose(text);
  int status = 0;
  waitpid(pid, &status, 0);
  std::smatch m;
  const std::regex captured(R"((\d+) packets? captured)"),
      dropped(R"((\d+) packets? dropped by kernel)");
  if (!std::regex_search(printed, m, captured)) Fail("no counts from tcpdump: " + printed);
  Figures f;
  f.packets = std::stol(m[1]);
  if (std::regex_search(printed, m, dropped)) f.dropped = std::stol(m[1]);
  if (flood.sent() == 0) Fail("the flood sent nothing");
  if (f.packets == 0) Fail("tcpdump captured none of the flood: " + printed);
  f.perSecond = double(f.packets) / flood.seconds();
  std::printf(
      "  tcpdump -w /dev/null: flood %ld packets in %.2f s; captured %ld (%.0f/s), "
      "kernel drops %ld\n",
      flood.sent(), flood.seconds(), f.packets, f.perSecond, f.dropped);
  return f;
}

// The engine alone: read, decode and judge every packet of the flood.
void EngineSide(bool immediate, int bufferBytes, double seconds) {
  CaptureFilter filter;
  filter.includeUdp = 1;
  CaptureOptions options;
  options.kernelFilter = KernelFilterExpression(filter);
  options.immediate = immediate;
  options.bufferBytes = bufferBytes;
  int error = 0;
  CaptureSocket* capture = OpenCaptureSocket(kLoopback, options, &error);
  if (capture == nullptr) Fail("cannot open the capture: errno " + std::to_string(error));
  auto record = std::make_unique<CapturedPacket>();
  long shown = 0;
  const auto drain = [&] {
    for (int r; (r = ReadCapturedPacket(capture, record.get())) != kNoPacketWaiting;) {
      if (r < 0) Fail("capture failed");
      if (r > 0 && PacketPassesFilter(filter, *record)) ++shown;
    }
  };
  // The delay of a lone packet: from its send to its read.
  double worstDelayMs = 0;
  const int probe = socket(AF_INET, SOCK_DGRAM, 0);
  for (int i = 0; i < 10; ++i) {
    const auto sent = Clock::now();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = kLoopback;
    to.sin_port = htons(kWantedPort);
    sendto(probe, "probe", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    for (long before = shown; shown == before;) {
      pollfd p{CaptureWaitFd(capture), POLLIN, 0};
      poll(&p, 1, 200);
      drain();
      if (Seconds(Clock::now() - sent) > 1) Fail("a lone packet took more than a second");
    }
    worstDelayMs = std::max(worstDelayMs, Seconds(Clock::now() - sent) * 1000);
    usleep(30 * 1000);
  }
  close(probe);

  shown = 0;
  Flood flood(seconds);
  const auto start = Clock::now();
  while (!flood.done()) {
    pollfd p{CaptureWaitFd(capture), POLLIN, 0};
    poll(&p, 1, 50);
    drain();
  }
  usleep(100 * 1000);
  drain();
  const double took = Seconds(Clock::now() - start);
  const CaptureCounts counts = CaptureStatistics(capture);
  CloseCaptureSocket(capture);
  if (shown == 0) Fail("the capture engine read none of the flood");
  std::printf(
      "  %-18s %5d KiB ring: flood %8ld, read %8ld (%7.0f/s), kernel drops %7llu, "
      "lone packet within %.1f ms\n",
      immediate ? "immediate mode," : "block time-out,", bufferBytes / 1024, flood.sent(), shown,
      double(shown) / took, static_cast<unsigned long long>(counts.dropped), worstDelayMs);
}

void SendProbe() {
  const int probe = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = kLoopback;
  to.sin_port = htons(kWantedPort);
  sendto(probe, "probe", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  close(probe);
}

// A stream from the helper whose waits end when `stop` is written, at the latest after
// `limit`; null when the capture cannot be opened.
struct HelperStream {
  HelperStream(const CaptureFilter& filter, double limit) : stop(eventfd(0, EFD_CLOEXEC)) {
    int error = 0;
    stream = OpenCaptureStream(kLoopback, filter, stop, &error);
    if (stream == nullptr)
      Fail("the helper cannot open the capture: errno " + std::to_string(error));
    watchdog = std::thread([this, limit] {
      std::unique_lock<std::mutex> lock(mutex);
      if (!cv.wait_for(lock, std::chrono::duration<double>(limit), [this] { return ended; })) {
        timedOut = true;
        end();
      }
    });
  }
  ~HelperStream() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ended = true;
    }
    cv.notify_all();
    watchdog.join();
    close(stop);
  }
  void end() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(stop, &one, sizeof one);
  }

  int stop;
  CaptureStream* stream = nullptr;
  std::thread watchdog;
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
  std::atomic<bool> timedOut{false};
};

// The same engine in the helper, its stream read, decoded and judged here.
void StreamSide(double seconds) {
  CaptureFilter filter;
  filter.includeUdp = 1;
  auto record = std::make_unique<CapturedPacket>();
  double worstDelayMs = 0;
  {
    HelperStream lone(filter, 10);
    for (int i = 0; i < 10; ++i) {
      const auto sent = Clock::now();
      SendProbe();
      if (ReadStreamPacket(lone.stream, record.get()) <= 0) Fail("a lone packet did not come");
      worstDelayMs = std::max(worstDelayMs, Seconds(Clock::now() - sent) * 1000);
      usleep(30 * 1000);
    }
    CloseCaptureStream(lone.stream);
  }
  HelperStream flooded(filter, seconds + 10);
  long shown = 0;
  Flood flood(seconds);
  std::thread stopper([&] {
    flood.wait();
    usleep(100 * 1000);
    flooded.end();
  });
  const auto start = Clock::now();
  for (int r; (r = ReadStreamPacket(flooded.stream, record.get())) >= 0;) {
    if (r > 0 && PacketPassesFilter(filter, *record)) ++shown;
  }
  const double took = Seconds(Clock::now() - start);
  stopper.join();
  const CaptureCounts counts = CloseCaptureStream(flooded.stream);
  if (flooded.timedOut) Fail("the stream did not end");
  if (shown == 0) Fail("the helper's stream carried none of the flood");
  std::printf(
      "  %-18s %5d KiB ring: flood %8ld, read %8ld (%7.0f/s), kernel drops %7llu, "
      "lone packet within %.1f ms\n",
      "through the helper,", kCaptureBufferBytes / 1024, flood.sent(), shown, double(shown) / took,
      static_cast<unsigned long long>(counts.dropped), worstDelayMs);
}

// The Packet Capture pane under a flood; the longest gap between ticks of a 1 ms timer is the
// UI's longest stall.
struct PaneRun {
  long shown = 0;         // by the end of the run
  long shownInFlood = 0;  // by the end of the flood
  long dropped = 0;
  long sent = 0;
  long trickled = 0;
  double seconds = 0;
  double stallMs = 0;
};

// The number of the last packet the pane shows, 0 for none: it is in the last few lines.
long LastShownNumber(const CapturePane& pane) {
  const auto* edit = FindControl<QPlainTextEdit>(&pane, kOutputPaneId);
  QTextBlock block = edit->document()->lastBlock();
  for (int i = 0; i < 100 && block.isValid(); ++i, block = block.previous()) {
    if (block.text().startsWith(QLatin1String("PACKET "))) return block.text().mid(7).toLong();
  }
  return 0;
}

PaneRun PaneSide(CapturePane& pane, const CaptureFilter& filter, double seconds, int perSecond,
                 int trickleEvery) {
  SendToPacketCapture(&filter);
  auto* box = FindControl<QComboBox>(&pane, kCaptureInterfaceId);
  box->setCurrentIndex(box->findText(QStringLiteral("127.0.0.1")));
  pane.command(kCaptureStartId);
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

  PaneRun run;
  qint64 last = clock.elapsed();
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    run.stallMs = std::max(run.stallMs, double(now - last));
    last = now;
  });
  ticker.start(1);
  {
    Flood flood(seconds, perSecond, trickleEvery);
    while (!flood.done()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    flood.wait();
    run.sent = flood.sent();
    run.trickled = flood.trickled();
    run.seconds = flood.seconds();
  }
  run.shownInFlood = LastShownNumber(pane);
  // The pane catches up with what the kernel holds: until every wanted packet is shown, or for
  // at most half a second without a new one (three seconds in all).
  const long wanted = trickleEvery > 0 ? run.trickled : run.sent + run.trickled;
  const qint64 settle = clock.elapsed();
  long shown = -1;
  for (qint64 lastChange = settle; clock.elapsed() - settle < 3000;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const long now = LastShownNumber(pane);
    if (now == wanted || clock.elapsed() - lastChange > 500) break;
    if (now != shown) {
      shown = now;
      lastChange = clock.elapsed();
    }
  }
  ticker.stop();
  pane.command(kCaptureStartId);
  while (pane.running()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

  // The numbers the pane still holds must run without a gap up to the last one shown.
  const std::string text = GetOutputText(&pane, kOutputPaneId);
  long first = 0, held = 0;
  for (size_t at = 0; (at = text.find("\r\nPACKET ", at)) != std::string::npos; ++held) {
    at += 9;
    run.shown = std::atol(text.c_str() + at);
    if (held == 0) first = run.shown;
  }
  if (run.shown == 0) Fail("the pane showed no packet");
  if (run.shown - first + 1 != held) {
    Fail("the pane's packet numbers have gaps: " + std::to_string(held) + " packets held from " +
         std::to_string(first) + " to " + std::to_string(run.shown));
  }
  run.dropped = long(pane.lastRunCounts().dropped);
  // Without kernel drops every packet sent to a shown port must be on the pane.
  if (run.dropped == 0 && run.shown != wanted) {
    Fail("the pane showed " + std::to_string(run.shown) + " packets of " + std::to_string(wanted) +
         " without a kernel drop");
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  if (geteuid() != 0) Fail("needs root (a network namespace and packet capture)");
  if (unshare(CLONE_NEWNET) != 0) Fail("cannot make a network namespace");
  if (std::system("ip link set lo up") != 0) Fail("cannot bring loopback up");
  if (std::system("command -v tcpdump >/dev/null") != 0) Fail("tcpdump is not installed");
  UseHelperAt(PELORIN_HELPER_PATH);

  std::printf("capture engine alone, %.1f s of flood each:\n", seconds);
  for (const int buffer : {2 * 1024 * 1024, kCaptureBufferBytes}) {
    EngineSide(true, buffer, seconds);
    EngineSide(false, buffer, seconds);
  }
  StreamSide(seconds);

  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  PrepareApplication(app);
  auto* pane = static_cast<CapturePane*>(CreateCapturePane(nullptr));
  pane->show();

  CaptureFilter everything;
  everything.includeUdp = 1;
  everything.portMode = 1;
  everything.ports[0] = NetworkPort(kFloodPort);
  everything.ports[1] = NetworkPort(kWantedPort);
  std::printf("\n(a) every flood packet shown (\"All Data\", packet info):\n");
  const Figures dumpA = TcpdumpSide(seconds);
  const PaneRun a = PaneSide(*pane, everything, seconds, 0, 0);
  std::printf(
      "  Pelorin: flood %ld packets in %.2f s; shown %ld during it (%.0f/s), %ld in all, "
      "kernel drops %ld, longest UI stall %.0f ms\n",
      a.sent, a.seconds, a.shownInFlood, double(a.shownInFlood) / a.seconds, a.shown, a.dropped,
      a.stallMs);
  std::printf("  shown per second / tcpdump's captured per second: %.3f\n",
              (double(a.shownInFlood) / a.seconds) / dumpA.perSecond);
  const PaneRun paced = PaneSide(*pane, everything, seconds, 5000, 0);
  std::printf(
      "  paced at 5,000/s: sent %ld, shown %ld during it (%.0f/s), %ld in all, kernel drops %ld, "
      "longest UI stall %.0f ms\n",
      paced.sent, paced.shownInFlood, double(paced.shownInFlood) / paced.seconds, paced.shown,
      paced.dropped, paced.stallMs);

  CaptureFilter wanted = everything;
  wanted.ports[0] = NetworkPort(kWantedPort);
  wanted.ports[1] = 0;
  std::printf("\n(b) the flood filtered out (UDP port 7 wanted, one in 1000 flood packets):\n");
  const Figures dumpB = TcpdumpSide(seconds);
  const PaneRun b = PaneSide(*pane, wanted, seconds, 0, 1000);
  std::printf(
      "  Pelorin: flood %ld packets in %.2f s (%.0f/s) judged; wanted %ld, shown %ld, "
      "kernel drops %ld, longest UI stall %.0f ms\n",
      b.sent + b.trickled, b.seconds, double(b.sent + b.trickled) / b.seconds, b.trickled, b.shown,
      b.dropped, b.stallMs);
  std::printf("  packets judged per second / tcpdump's captured per second: %.3f\n",
              (double(b.sent + b.trickled) / b.seconds) / dumpB.perSecond);
  delete pane;
  return 0;
}
