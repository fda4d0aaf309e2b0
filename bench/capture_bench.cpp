// Packet capture under a UDP flood on loopback, beside tcpdump on the same flood, in one run.
// Root: the run moves into a network namespace of its own (its own loopback, gone with the
// process), so no other traffic is captured and nothing leaves it.
//
//   build/default/bench/capture_bench [seconds per side]   (default 3)
//
// 1. The capture engine alone (read, decode, filter; no display), in this process: immediate
//    mode beside the ring's block time-out, at two kernel buffer sizes; then the same engine in
//    pelorin-helper, its stream read, decoded and judged here, over IPv4 and over IPv6: the
//    helper's pipe read directly beside the same capture through the capture service's session,
//    as the pane's worker reads it (what the service's boundary costs), and through
//    pelorin-agent over pipes (what a host behind a byte stream costs): packets read per second,
//    kernel drops, and the longest delay of a lone packet.
// 2. The Packet Capture pane, whose capture the helper opens: (a) every flood packet shown ("All
//    Data", packet info), also at a paced 5,000 packets per second, and an IPv6 flood; (b) the
//    flood filtered out, a trickle of wanted packets among it; (c) the flood saved to a file
//    beside tcpdump -w FILE; (d) a file of a million packets opened, beside tcpdump -r. Shown
//    (or saved) packets per second, kernel drops, the UI's longest stall, and tcpdump's figures
//    as ratios.
// Kernel drops are the kernel's own count, which on loopback counts each lost packet twice
// (once leaving, once arriving); tcpdump's are counted the same way.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
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
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_file.h"
#include "capture/capture_pane.h"
#include "capture/capture_service.h"
#include "capture/capture_socket.h"
#include "capture/filter_rules.h"
#include "host/agent_host.h"
#include "host/helper_client.h"
#include "host/host.h"
#include "shell/controls.h"
#include "shell/output.h"
#include "shell/startup.h"
#include "shell/ui_thread.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kFloodPort = 9;
constexpr uint16_t kWantedPort = 7;
const IpAddress kLoopback = IpAddress::Ipv4(htonl(INADDR_LOOPBACK));
const IpAddress kLoopback6 = *ParseIpv6Address("::1");

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "capture_bench: %s\n", why.c_str());
  std::exit(1);
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// A loopback address and port of either family.
struct Loopback {
  sockaddr_storage address{};
  socklen_t length = 0;
  Loopback(bool ipv6, uint16_t port) {
    if (ipv6) {
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
      in6->sin6_family = AF_INET6;
      in6->sin6_addr = in6addr_loopback;
      in6->sin6_port = htons(port);
      length = sizeof *in6;
    } else {
      auto* in = reinterpret_cast<sockaddr_in*>(&address);
      in->sin_family = AF_INET;
      in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      in->sin_port = htons(port);
      length = sizeof *in;
    }
  }
  sockaddr* get() { return reinterpret_cast<sockaddr*>(&address); }
};

// UDP datagrams of 32 bytes to 127.0.0.1:9 (or [::1]:9) from one thread, as fast as the system
// takes them or at a fixed rate; a trickle to port 7 every `trickleEvery` datagrams when asked. A
// socket bound to port 9 takes them (and drops what it cannot hold), so no ICMP answers add to
// the traffic.
class Flood {
 public:
  Flood(double seconds, int perSecond = 0, int trickleEvery = 0, bool ipv6 = false) : ipv6_(ipv6) {
    sink_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
    Loopback at(ipv6, kFloodPort);
    if (bind(sink_, at.get(), at.length) != 0) Fail("cannot bind port 9");
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
  void run(double seconds, int perSecond, int trickleEvery) {
    const int fd = socket(ipv6_ ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
    Loopback flood(ipv6_, kFloodPort), wanted(ipv6_, kWantedPort);
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
      Loopback& to = trickle ? wanted : flood;
      if (sendto(fd, payload, sizeof payload, 0, to.get(), to.length) == ssize_t(sizeof payload)) {
        ++(trickle ? trickled_ : sent_);
      }
    }
    seconds_ = Seconds(Clock::now() - start);
    close(fd);
    done_ = true;
  }

  const bool ipv6_;
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
  long sent = 0;  // by the flood
};

// tcpdump -i lo -w FILE during a flood; its own counts from what it prints at the end.
Figures TcpdumpSide(double seconds, bool ipv6 = false, const std::string& file = "/dev/null") {
  int out[2];
  if (pipe(out) != 0) Fail("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    close(out[0]);
    execlp("tcpdump", "tcpdump", "-i", "lo", "-w", file.c_str(), nullptr);
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
  Flood flood(seconds, 0, 0, ipv6);
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
  f.sent = flood.sent();
  std::printf(
      "  tcpdump -w %s: flood %ld packets in %.2f s; captured %ld (%.0f/s), "
      "kernel drops %ld\n",
      file == "/dev/null" ? "/dev/null" : "FILE", flood.sent(), flood.seconds(), f.packets,
      f.perSecond, f.dropped);
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
    to.sin_addr.s_addr = kLoopback.ipv4();
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
      "  %-26s %5d KiB ring: flood %8ld, read %8ld (%7.0f/s), kernel drops %7llu, "
      "lone packet within %.1f ms\n",
      immediate ? "immediate mode," : "block time-out,", bufferBytes / 1024, flood.sent(), shown,
      double(shown) / took, static_cast<unsigned long long>(counts.dropped), worstDelayMs);
}

void SendProbe(bool ipv6) {
  const int probe = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
  Loopback to(ipv6, kWantedPort);
  sendto(probe, "probe", 5, 0, to.get(), to.length);
  close(probe);
}

// One capture of the helper, read packet by packet: 1 and the next decoded packet, 0 for a frame
// that is no TCP or UDP packet with payload, -1 at the end.
class PacketSource {
 public:
  virtual ~PacketSource() = default;
  virtual int read(CapturedPacket* record) = 0;
  virtual CaptureCounts close() = 0;
};

// The helper's stream read as the window read it before its captures went through the capture
// service: the pipe the helper hands over, straight into the capture library.
class DirectStream : public PacketSource {
 public:
  DirectStream(const IpAddress& address, const CaptureFilter& filter, int stopFd) {
    auto request = NewHelperRecord<HelperCaptureRequest>(kHelperCapture);
    request.address = WireAddressOf(address);
    request.filter = WireFilterOf(filter);
    call_ = std::make_unique<HelperCall>(request);
    HelperReply reply;
    int error = call_->error();
    if (error == 0) error = call_->next(reply, stopFd, kHelperQuickTimeoutMs);
    if (error != 0 || reply.type() != kHelperCaptureOpened) {
      Fail("the helper cannot open the capture: errno " + std::to_string(error) + ", reply " +
           std::to_string(reply.type()));
    }
    file_ = ReadCaptureFrom(reply.takeFd(), stopFd, nullptr);
    if (file_ == nullptr) Fail("no capture file came from the helper");
    linkType_ = CaptureFileLinkType(file_);
  }
  int read(CapturedPacket* record) override {
    CaptureFrame frame;
    if (ReadCaptureFrame(file_, &frame) != FrameRead::kFrame) return -1;
    return DecodeFrame(linkType_, frame.bytes, frame.capturedLength, record) ? 1 : 0;
  }
  CaptureCounts close() override {
    CaptureCounts counts;
    CloseCaptureFileReader(file_);
    HelperReply reply;
    while (call_->next(reply, -1, 2000) == 0) {
      if (reply.type() != kHelperCaptureEnded) continue;
      counts.received = reply.as<HelperCaptureEndedReply>().received;
      counts.dropped = reply.as<HelperCaptureEndedReply>().dropped;
      break;
    }
    return counts;
  }

 private:
  std::unique_ptr<HelperCall> call_;
  CaptureFileReader* file_ = nullptr;
  int linkType_ = 0;
};

// The same capture as the pane's worker reads it: a session of a capture service (this
// computer's, or an agent's over pipes), read in batches.
class ServiceSession : public PacketSource {
 public:
  ServiceSession(CaptureService& service, const IpAddress& address, const CaptureFilter& filter,
                 const RunToken& stop)
      : stop_(stop) {
    CaptureOpening opening = service.open(address, filter, stop);
    if (!opening.session) {
      Fail("the helper cannot open the capture: errno " + std::to_string(opening.error));
    }
    session_ = std::move(opening.session);
  }
  int read(CapturedPacket* record) override {
    if (next_ == batch_.frames.size()) {
      if (!session_->read(batch_, 256, stop_)) return -1;
      next_ = 0;
    }
    const CaptureFrame& frame = batch_.frames[next_++];
    return DecodeFrame(session_->linkType(), frame.bytes, frame.capturedLength, record) ? 1 : 0;
  }
  CaptureCounts close() override { return session_->close().counts; }

 private:
  const RunToken& stop_;
  std::unique_ptr<CaptureSession> session_;
  CaptureBatch batch_;
  size_t next_ = 0;
};

// How the helper's stream is read: its pipe directly, through this computer's capture service,
// or through pelorin-agent over pipes (the agent's own helper, its frames over the link).
enum class Reader { kPipe, kService, kAgent };

// The agent of this build over pipes, in this namespace; started once.
Host& AgentHost() {
  static std::unique_ptr<Host> agent = [] {
    std::string failure;
    std::unique_ptr<Host> host = ConnectAgent({PELORIN_AGENT_PATH}, &failure);
    if (!host) Fail("the agent did not answer: " + failure);
    return host;
  }();
  return *agent;
}

// A capture of the helper whose waits end at end(), at the latest after `limit`.
struct HelperStream {
  HelperStream(const CaptureFilter& filter, double limit, bool ipv6, Reader reader) {
    const IpAddress& address = ipv6 ? kLoopback6 : kLoopback;
    if (reader == Reader::kPipe) {
      source = std::make_unique<DirectStream>(address, filter, stop.wakeFd());
    } else {
      CaptureService& service =
          reader == Reader::kAgent ? AgentHost().capture() : WindowHost().capture();
      source = std::make_unique<ServiceSession>(service, address, filter, stop);
    }
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
  }
  void end() { stop.cancel(); }

  RunToken stop;
  std::unique_ptr<PacketSource> source;
  std::thread watchdog;
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
  std::atomic<bool> timedOut{false};
};

// The same engine in the helper, its stream read, decoded and judged here: directly, through
// the capture service as the pane reads it, or through the agent.
void StreamSide(double seconds, bool ipv6, Reader reader) {
  CaptureFilter filter;
  filter.includeUdp = 1;
  auto record = std::make_unique<CapturedPacket>();
  double worstDelayMs = 0;
  {
    HelperStream lone(filter, 10, ipv6, reader);
    for (int i = 0; i < 10; ++i) {
      const auto sent = Clock::now();
      SendProbe(ipv6);
      if (lone.source->read(record.get()) <= 0) Fail("a lone packet did not come");
      worstDelayMs = std::max(worstDelayMs, Seconds(Clock::now() - sent) * 1000);
      usleep(30 * 1000);
    }
    lone.source->close();
  }
  HelperStream flooded(filter, seconds + 10, ipv6, reader);
  long shown = 0;
  Flood flood(seconds, 0, 0, ipv6);
  std::thread stopper([&] {
    flood.wait();
    usleep(100 * 1000);
    flooded.end();
  });
  const auto start = Clock::now();
  for (int r; (r = flooded.source->read(record.get())) >= 0;) {
    if (r > 0 && PacketPassesFilter(filter, *record)) ++shown;
  }
  const double took = Seconds(Clock::now() - start);
  stopper.join();
  const CaptureCounts counts = flooded.source->close();
  if (flooded.timedOut) Fail("the stream did not end");
  if (shown == 0) Fail("the helper's stream carried none of the flood");
  const char* how = reader == Reader::kPipe      ? "helper's pipe read, "
                    : reader == Reader::kService ? "capture service, "
                                                 : "agent over pipes, ";
  const std::string side = std::string(how) + (ipv6 ? "IPv6:" : "IPv4:");
  std::printf(
      "  %-26s %5d KiB ring: flood %8ld, read %8ld (%7.0f/s), kernel drops %7llu, "
      "lone packet within %.1f ms\n",
      side.c_str(), kCaptureBufferBytes / 1024, flood.sent(), shown, double(shown) / took,
      static_cast<unsigned long long>(counts.dropped), worstDelayMs);
}

// The Packet Capture pane under a flood; the longest gap between ticks of a 1 ms timer is the
// UI's longest stall.
struct PaneSideRun {
  long saved = 0;         // in the file, when saving
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

// The number of frames in a capture file.
long FramesIn(const std::string& file) {
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* read = pcap_open_offline(file.c_str(), error);
  if (read == nullptr) Fail("cannot read " + file + ": " + error);
  long frames = 0;
  pcap_pkthdr* header;
  const u_char* bytes;
  while (pcap_next_ex(read, &header, &bytes) == 1) ++frames;
  pcap_close(read);
  return frames;
}

// Keeps track of the UI's longest stall while it lives: the longest gap between the ticks of a
// 1 ms timer.
class StallWatch {
 public:
  StallWatch() {
    clock_.start();
    ticker_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker_, &QTimer::timeout, [this] {
      const qint64 now = clock_.elapsed();
      longestMs_ = std::max(longestMs_, double(now - last_));
      last_ = now;
    });
    ticker_.start(1);
  }
  double longestMs() const { return longestMs_; }

 private:
  QElapsedTimer clock_;
  QTimer ticker_;
  qint64 last_ = 0;
  double longestMs_ = 0;
};

// `saveTo` empty: shown only. With a file, the capture saves every packet there and the numbers
// the pane holds may have gaps.
PaneSideRun PaneSide(CapturePane& pane, const CaptureFilter& filter, double seconds, int perSecond,
                 int trickleEvery, bool ipv6 = false, const std::string& saveTo = {}) {
  SendToPacketCapture(&filter);
  auto* box = FindControl<QComboBox>(&pane, kCaptureInterfaceId);
  const QString address = ipv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1");
  box->setCurrentIndex(box->findText(address));
  SetCaptureFileChooser([saveTo](QWidget*, bool) { return QString::fromStdString(saveTo); });
  if (!saveTo.empty()) pane.command(kCmdSaveToFile);
  pane.command(kCaptureStartId);
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

  PaneSideRun run;
  auto stalls = std::make_unique<StallWatch>();
  {
    Flood flood(seconds, perSecond, trickleEvery, ipv6);
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
  run.stallMs = stalls->longestMs();
  stalls.reset();
  pane.command(kCaptureStartId);
  while (pane.running()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  run.dropped = long(pane.lastRunCounts().dropped);
  if (!saveTo.empty()) {
    run.saved = FramesIn(saveTo);
    run.shown = LastShownNumber(pane);
    if (run.saved < run.shown) Fail("the file holds fewer packets than the pane showed");
    return run;
  }

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
  // Without kernel drops every packet sent to a shown port must be on the pane.
  if (run.dropped == 0 && run.shown != wanted) {
    Fail("the pane showed " + std::to_string(run.shown) + " packets of " + std::to_string(wanted) +
         " without a kernel drop");
  }
  return run;
}

// A capture file of `count` flood datagrams as a loopback capture writes them (Ethernet,
// 127.0.0.1 to port 9), a microsecond apart.
void WriteFloodFile(const std::string& file, long count) {
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, kCaptureSnapLength);
  pcap_dumper_t* dumper = pcap_dump_open(dead, file.c_str());
  if (dumper == nullptr) Fail("cannot write " + file);
  uint8_t frame[14 + 20 + 8 + 32] = {};
  frame[12] = 0x08;
  const uint8_t ip[20] = {0x45, 0, 0, 60, 0, 1, 0x40, 0, 64, 17, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1};
  std::memcpy(frame + 14, ip, sizeof ip);
  const uint8_t udp[8] = {0x9c, 0x40, 0, kFloodPort, 0, 40, 0, 0};
  std::memcpy(frame + 34, udp, sizeof udp);
  std::memcpy(frame + 42, "flood flood flood flood flood..", 32);
  pcap_pkthdr header{};
  header.caplen = header.len = sizeof frame;
  for (long i = 0; i < count; ++i) {
    header.ts.tv_sec = 1700000000 + i / 1000000;
    header.ts.tv_usec = i % 1000000;
    pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame);
  }
  pcap_dump_close(dumper);
  pcap_close(dead);
}

// Seconds a command takes to run to its end, its output thrown away.
double TimeCommand(const std::vector<const char*>& argv) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    std::vector<char*> args;
    for (const char* a : argv) args.push_back(const_cast<char*>(a));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail(std::string(argv[0]) + " failed");
  return Seconds(Clock::now() - start);
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
  // The helper's stream beside the same stream through the capture service and through the
  // agent, each family.
  for (const bool ipv6 : {false, true}) {
    for (const Reader reader : {Reader::kPipe, Reader::kService, Reader::kAgent}) {
      StreamSide(seconds, ipv6, reader);
    }
  }

  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  PrepareApplication(app);
  auto* pane = new CapturePane(nullptr, WindowHost().capture());
  pane->show();
  while (pane->fillingAddresses()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

  CaptureFilter everything;
  everything.includeUdp = 1;
  everything.portMode = 1;
  everything.ports[0] = NetworkPort(kFloodPort);
  everything.ports[1] = NetworkPort(kWantedPort);
  std::printf("\n(a) every flood packet shown (\"All Data\", packet info):\n");
  const Figures dumpA = TcpdumpSide(seconds);
  const PaneSideRun a = PaneSide(*pane, everything, seconds, 0, 0);
  std::printf(
      "  Pelorin: flood %ld packets in %.2f s; shown %ld during it (%.0f/s), %ld in all, "
      "kernel drops %ld, longest UI stall %.0f ms\n",
      a.sent, a.seconds, a.shownInFlood, double(a.shownInFlood) / a.seconds, a.shown, a.dropped,
      a.stallMs);
  std::printf("  shown per second / tcpdump's captured per second: %.3f\n",
              (double(a.shownInFlood) / a.seconds) / dumpA.perSecond);
  const PaneSideRun paced = PaneSide(*pane, everything, seconds, 5000, 0);
  std::printf(
      "  paced at 5,000/s: sent %ld, shown %ld during it (%.0f/s), %ld in all, kernel drops %ld, "
      "longest UI stall %.0f ms\n",
      paced.sent, paced.shownInFlood, double(paced.shownInFlood) / paced.seconds, paced.shown,
      paced.dropped, paced.stallMs);

  const Figures dump6 = TcpdumpSide(seconds, true);
  const PaneSideRun six = PaneSide(*pane, everything, seconds, 0, 0, true);
  std::printf(
      "  IPv6 flood to [::1]:9: flood %ld packets in %.2f s; shown %ld during it (%.0f/s), "
      "%ld in all, kernel drops %ld, longest UI stall %.0f ms\n",
      six.sent, six.seconds, six.shownInFlood, double(six.shownInFlood) / six.seconds, six.shown,
      six.dropped, six.stallMs);
  std::printf("  shown per second / tcpdump's captured per second (IPv6): %.3f\n",
              (double(six.shownInFlood) / six.seconds) / dump6.perSecond);

  CaptureFilter wanted = everything;
  wanted.ports[0] = NetworkPort(kWantedPort);
  wanted.ports[1] = 0;
  std::printf("\n(b) the flood filtered out (UDP port 7 wanted, one in 1000 flood packets):\n");
  const Figures dumpB = TcpdumpSide(seconds);
  const PaneSideRun b = PaneSide(*pane, wanted, seconds, 0, 1000);
  std::printf(
      "  Pelorin: flood %ld packets in %.2f s (%.0f/s) judged; wanted %ld, shown %ld, "
      "kernel drops %ld, longest UI stall %.0f ms\n",
      b.sent + b.trickled, b.seconds, double(b.sent + b.trickled) / b.seconds, b.trickled, b.shown,
      b.dropped, b.stallMs);
  std::printf("  packets judged per second / tcpdump's captured per second: %.3f\n",
              (double(b.sent + b.trickled) / b.seconds) / dumpB.perSecond);

  char folder[] = "/tmp/pelorin-capture-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) Fail("cannot make a folder for the files");
  const std::string theirs = std::string(folder) + "/tcpdump.pcap";
  const std::string ours = std::string(folder) + "/pelorin.pcap";
  std::printf("\n(c) the flood saved to a file (\"All Data\", packet info shown meanwhile):\n");
  const Figures dumpC = TcpdumpSide(seconds, false, theirs);
  const PaneSideRun c = PaneSide(*pane, everything, seconds, 0, 0, false, ours);
  const auto share = [](long part, long whole) { return whole > 0 ? 100.0 * part / whole : 0; };
  std::printf(
      "  Pelorin: flood %ld packets in %.2f s; saved %ld (%.0f/s), shown %ld, kernel drops %ld "
      "(%.1f%% of the flood), longest UI stall %.0f ms\n",
      c.sent, c.seconds, c.saved, double(c.saved) / c.seconds, c.shown, c.dropped,
      share(c.dropped, c.sent), c.stallMs);
  std::printf(
      "  saved per second / tcpdump's written per second: %.3f; kernel drops: Pelorin %.1f%%, "
      "tcpdump %.1f%% of the flood\n",
      (double(c.saved) / c.seconds) / dumpC.perSecond, share(c.dropped, c.sent),
      share(dumpC.dropped, dumpC.sent));

  constexpr long kFilePackets = 1000000;
  const std::string large = std::string(folder) + "/million.pcap";
  WriteFloodFile(large, kFilePackets);
  std::printf("\n(d) a file of a million flood packets opened (\"All Data\", packet info):\n");
  const double tcpdumpRead = TimeCommand({"tcpdump", "-nn", "-X", "-r", large.c_str()});
  std::printf("  tcpdump -nn -X -r FILE > /dev/null: %.2f s\n", tcpdumpRead);
  SendToPacketCapture(&everything);
  SetCaptureFileChooser([large](QWidget*, bool) { return QString::fromStdString(large); });
  QElapsedTimer opened;
  double openStallMs = 0;
  {
    StallWatch stalls;
    opened.start();
    pane->command(kCmdOpenCaptureFile);
    while (pane->running()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    openStallMs = stalls.longestMs();
  }
  const double openSeconds = double(opened.elapsed()) / 1000;
  if (LastShownNumber(*pane) != kFilePackets) Fail("the pane did not show the file's last packet");
  std::printf(
      "  Pelorin: last of %ld packets shown after %.2f s, the pane holding %zu bytes of text; "
      "longest UI stall %.0f ms\n",
      kFilePackets, openSeconds, GetOutputText(pane, kOutputPaneId).size(), openStallMs);
  std::printf("  time to the last packet shown / tcpdump's time: %.3f\n",
              openSeconds / tcpdumpRead);
  std::filesystem::remove_all(folder);
  delete pane;
  return 0;
}
