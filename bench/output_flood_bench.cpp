// How the window holds up when output comes faster than anyone reads: a peer flooding the TCP
// Socket pane, and whois answers at the size cap. For each it prints the UI event loop's longest
// stall, the throughput and the memory, beside socat doing the same transfer alone (to
// /dev/null), in one run. The whois server listens on port 43 of 127.0.43.250, so it needs root.
//
//   build/default/bench/output_flood_bench [seconds of flood per display mode]   (default 5)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "shell/controls.h"
#include "shell/output.h"
#include "shell/payload_display.h"
#include "shell/startup.h"
#include "sockets/tcp_socket_pane.h"
#include "test_util.h"
#include "whois/whois_answer.h"
#include "whois/whois_pane.h"
#include "whois/whois_service.h"
#include "whois_test_server.h"

namespace {

constexpr const char* kWhoisAddress = "127.0.43.250";

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "output_flood_bench: %s\n", why.c_str());
  std::exit(1);
}

// The longest time the UI event loop went without running a 1 ms timer.
class StallMeter {
 public:
  StallMeter() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      longest_ = std::max(longest_, clock_.nsecsElapsed());
      clock_.restart();
    });
    clock_.start();
    timer_.start();
  }
  double longestMs() const { return double(longest_) / 1e6; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 longest_ = 0;
};

// VmRSS and VmHWM of this process, in MiB. The peak starts over at ResetPeakMemory().
double StatusMiB(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::atof(line.c_str() + std::strlen(field)) / 1024;
  }
  return 0;
}
void ResetPeakMemory() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

void Serve(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A TCP peer of the benchmark's own on loopback: takes one connection and sends lines of text
// until stopped, counting what the connection took.
class FloodPeer {
 public:
  FloodPeer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
      Fail("the flooding peer cannot listen on 127.0.0.1");
    }
    port_ = ntohs(at.sin_port);
    for (int i = 0; text_.size() < (1 << 20); ++i) {
      text_ += std::to_string(10'000'000 + i) + " the quick brown fox jumps over the lazy dog\n";
    }
    thread_ = std::thread([this] { run(); });
  }
  ~FloodPeer() {
    stop_ = true;
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }
  uint16_t port() const { return port_; }
  uint64_t sent() const { return sent_.load(); }
  bool connected() const { return connected_.load(); }

 private:
  void run() {
    const int fd = accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    connected_ = true;
    while (!stop_) {
      const ssize_t n = send(fd, text_.data(), text_.size(), MSG_NOSIGNAL);
      if (n <= 0) break;
      sent_ += uint64_t(n);
    }
    close(fd);
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  std::string text_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> connected_{false};
  std::atomic<uint64_t> sent_{0};
  std::thread thread_;
};

// Bytes the flooding peer gets rid of per second from `seconds` after the connection on, while
// `during` serves the measured side.
double SteadyMiBPerSecond(const FloodPeer& peer, int seconds, const std::function<void()>& during) {
  QElapsedTimer clock;
  clock.start();
  while (!peer.connected() && clock.elapsed() < 5000) Serve(5);
  if (!peer.connected()) Fail("the flooding peer got no connection");
  Serve(1000);  // socket buffers fill meanwhile
  const uint64_t start = peer.sent();
  clock.restart();
  while (clock.elapsed() < seconds * 1000) {
    during();
    Serve(20);
  }
  return double(peer.sent() - start) / 1048576.0 / (double(clock.nsecsElapsed()) / 1e9);
}

void FloodSocat(int seconds) {
  FloodPeer peer;
  ChildProcess socat(
      {"socat", "-u", "TCP:127.0.0.1:" + std::to_string(peer.port()), "OPEN:/dev/null"});
  const double rate = SteadyMiBPerSecond(peer, seconds, [] {});
  socat.stop();
  std::printf("  %-30s %9.1f MiB/s\n", "socat -> /dev/null", rate);
}

void FloodPane(int displayIndex, const char* name, int seconds) {
  FloodPeer peer;
  TcpSocketPane pane(nullptr, WindowHost().sockets());
  pane.resize(800, 600);
  pane.show();
  FindControl<QComboBox>(&pane, kDisplaySelectorId)->setCurrentIndex(displayIndex);
  SetControlText(&pane, kTcpHostId, QStringLiteral("127.0.0.1"));
  SetControlText(&pane, kTcpPortId, QString::number(peer.port()));
  ResetPeakMemory();
  const double before = StatusMiB("VmRSS:");
  FindControl<QAbstractButton>(&pane, kTcpConnectId)->click();
  StallMeter stall;
  double peak = 0;
  const double rate =
      SteadyMiBPerSecond(peer, seconds, [&] { peak = std::max(peak, StatusMiB("VmHWM:")); });
  const double longest = stall.longestMs();
  const QTextDocument* doc = FindControl<QPlainTextEdit>(&pane, kOutputPaneId)->document();
  std::printf(
      "  %-30s %9.1f MiB/s   longest stall %6.1f ms   memory +%.0f MiB (peak +%.0f)"
      "   pane %.2f M characters, %d lines\n",
      name, rate, longest, StatusMiB("VmRSS:") - before, peak - before,
      double(doc->characterCount() - 1) / 1e6, doc->blockCount());
  pane.command(kTcpCloseId);
  while (pane.running()) Serve(5);
}

// Seconds socat takes to fetch the answer; fails unless it got all of it.
double SocatWhoisSeconds(const std::string& answer) {
  TempDir dir;
  const std::string file = dir.file("answer");
  QElapsedTimer clock;
  clock.start();
  ChildProcess fetch(
      {"sh", "-c",
       std::string("printf 'example.com\\r\\n' | socat - TCP:") + kWhoisAddress + ":43 > " + file});
  if (fetch.wait(30000) != 0) Fail("socat cannot fetch the whois answer");
  const double seconds = double(clock.nsecsElapsed()) / 1e9;
  std::ifstream in(file, std::ios::binary);
  const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (got != answer) Fail("socat fetched " + std::to_string(got.size()) + " bytes of the answer");
  return seconds;
}

void WhoisAnswer(const char* name, const std::string& answer) {
  TestWhoisServer server(kWhoisAddress, {{answer}, 0, WhoisServerScript::End::Close});
  if (!server.listening())
    Fail(std::string("the whois server cannot listen on ") + kWhoisAddress + ":43 (it needs root)");
  const double socat = SocatWhoisSeconds(answer);

  QWidget main;
  main.resize(1000, 700);
  auto* pane = new WhoisPane(&main, WindowHost().whois());
  main.show();
  pane->show();
  FindControl<QAbstractButton>(pane, kWhoisCustomCheckId)->click();
  SetControlText(pane, kWhoisServerBoxId, QString::fromLatin1(kWhoisAddress));
  SetControlText(pane, kWhoisQueryBoxId, QStringLiteral("example.com"));
  Serve(100);
  ResetPeakMemory();
  const double before = StatusMiB("VmRSS:");
  auto* start = FindControl<QAbstractButton>(pane, 1);
  QElapsedTimer clock;
  clock.start();
  StallMeter stall;
  pane->command(1);
  while (start->text() != QLatin1String("Start") && clock.elapsed() < 60000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  const double seconds = double(clock.nsecsElapsed()) / 1e9;
  Serve(200);  // the first paint of the answer's top
  const double longest = stall.longestMs();
  const std::string text = GetOutputText(pane, kOutputPaneId);
  if (text != answer) {
    Fail("the whois pane shows " + std::to_string(text.size()) + " bytes, not the answer's " +
         std::to_string(answer.size()));
  }
  const size_t shown = text.size();
  std::printf(
      "  %-30s %7.3f s   longest stall %6.1f ms   memory peak +%.0f MiB   socat %.3f s"
      "   (%.1f MB shown)\n",
      name, seconds, longest, StatusMiB("VmHWM:") - before, socat, double(shown) / 1e6);
  delete pane;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures before a failure's message
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  PrepareApplication(app);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (ChildProcess({"socat", "-V"}).wait(5000) != 0) {
    Fail("socat cannot run (scripts/install-deps.sh test)");
  }

  std::printf("TCP Socket pane flooded by a loopback peer, %d s per display mode\n", seconds);
  FloodSocat(seconds);
  FloodPane(4, "TCP Socket pane, Text Only", seconds);
  FloodPane(0, "TCP Socket pane, All Data", seconds);

  std::printf("\nWhois answers at the cap (%zu bytes)\n", kWhoisAnswerLimit);
  std::string oneLine(kWhoisAnswerLimit - 2, 'x');
  oneLine += "\r\n";
  WhoisAnswer("Whois pane, one line", oneLine);
  std::string lines;
  for (int i = 0; lines.size() < kWhoisAnswerLimit - 80; ++i) {
    lines += "Field " + std::to_string(i) + ": a value of an ordinary length for whois\r\n";
  }
  WhoisAnswer("Whois pane, ordinary lines", lines);
  return 0;
}
