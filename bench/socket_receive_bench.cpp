// How fast the TCP Socket pane receives and shows a stream, beside socat alone writing the same
// stream to /dev/null, in one run. A socat sender on loopback serves the same file to both.
//
//   build/default/bench/socket_receive_bench [megabytes]   (default 8; 2 MB is also timed)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "shell/controls.h"
#include "shell/output.h"
#include "shell/payload_display.h"
#include "shell/startup.h"
#include "sockets/tcp_socket_pane.h"

namespace {

// The display selector's "Text Only".
constexpr int kTextOnlyIndex = 4;

pid_t Spawn(const std::vector<std::string>& argv) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

// A side that cannot run ends the benchmark: no ratio is printed from a failed measurement.
[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "socket_receive_bench: %s\n", why);
  std::exit(1);
}

void Reap(pid_t pid) {
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof sa;
  bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  close(fd);
  return ntohs(sa.sin_port);
}

bool Listening(uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local == wanted && state == "0A") return true;
  }
  return false;
}

// A socat that serves the file to one client on a fresh port.
pid_t StartSender(const std::string& file, uint16_t* port) {
  *port = FreePort();
  const pid_t pid = Spawn({"socat", "-u", "OPEN:" + file,
                           "TCP-LISTEN:" + std::to_string(*port) + ",bind=127.0.0.1,reuseaddr"});
  QElapsedTimer waited;
  waited.start();
  while (!Listening(*port)) {
    if (waited.elapsed() > 5000 || waitpid(pid, nullptr, WNOHANG) == pid) {
      Fail("the socat sender did not start");
    }
    QThread::usleep(500);
  }
  return pid;
}

double SocatSeconds(const std::string& file) {
  uint16_t port = 0;
  const pid_t sender = StartSender(file, &port);
  QElapsedTimer timer;
  timer.start();
  const pid_t receiver =
      Spawn({"socat", "-u", "TCP:127.0.0.1:" + std::to_string(port), "OPEN:/dev/null"});
  int status = -1;
  waitpid(receiver, &status, 0);
  const double seconds = double(timer.nsecsElapsed()) / 1e9;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("the socat receiver failed");
  Reap(sender);
  return seconds;
}

// Whether the text a Text Only pane shows is the end of the stream: the pane ends every receive
// with CR LF and the stream has none, so without them it must be the stream's last bytes.
bool ShowsTheStreamsEnd(const std::string& shown, const std::string& file) {
  std::string data;
  for (size_t i = 0; i < shown.size(); ++i) {
    if (shown.compare(i, 2, "\r\n") == 0) {
      ++i;
    } else {
      data += shown[i];
    }
  }
  std::ifstream in(file, std::ios::binary);
  const std::string sent((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return !data.empty() && data.size() <= sent.size() &&
         sent.compare(sent.size() - data.size(), data.size(), data) == 0;
}

// Seconds from Connect until the pane has shown the whole stream and closed; `chars` gets the
// size of the text shown.
double PaneSeconds(const std::string& file, int displayIndex, qint64* chars) {
  uint16_t port = 0;
  const pid_t sender = StartSender(file, &port);
  TcpSocketPane pane(nullptr, WindowHost().sockets());
  pane.show();
  FindControl<QComboBox>(&pane, kDisplaySelectorId)->setCurrentIndex(displayIndex);
  SetControlText(&pane, kTcpHostId, QStringLiteral("127.0.0.1"));
  SetControlText(&pane, kTcpPortId, QString::number(port));
  QElapsedTimer timer;
  timer.start();
  FindControl<QAbstractButton>(&pane, kTcpConnectId)->click();
  while (pane.running()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  QCoreApplication::processEvents();  // the last paint
  const double seconds = double(timer.nsecsElapsed()) / 1e9;
  *chars = FindControl<QPlainTextEdit>(&pane, kOutputPaneId)->document()->characterCount();
  Reap(sender);
  // The run must have shown the stream and ended as the sender closed, not on an error.
  const std::string end = GetOutputText(&pane, kOutputPaneId);
  if (*chars < 1000000 || !end.ends_with("\r\n#>[Connection Closed]\r\n") ||
      end.find("#>[ERROR", end.size() - std::min<size_t>(end.size(), 200)) != std::string::npos) {
    Fail("the pane did not receive the stream");
  }
  const std::string closed = "#>[Connection Closed]\r\n";
  if (displayIndex == kTextOnlyIndex &&
      !ShowsTheStreamsEnd(end.substr(0, end.size() - closed.size()), file)) {
    Fail("the pane shows other data than the stream's");
  }
  return seconds;
}

std::string MakeStream(double megabytes) {
  char path[] = "/tmp/pelorin-bench-XXXXXX";
  const int fd = mkstemp(path);
  const size_t size = size_t(megabytes * 1024 * 1024);
  std::string data;
  data.reserve(size + 100);
  for (int line = 0; data.size() < size; ++line) {
    char text[100];
    std::snprintf(text, sizeof text, "%08d the quick brown fox jumps over the lazy dog\n", line);
    data += text;
  }
  data.resize(size);
  [[maybe_unused]] ssize_t n = write(fd, data.data(), data.size());
  close(fd);
  return path;
}

void Compare(double megabytes) {
  const std::string file = MakeStream(megabytes);
  const double bytes = megabytes * 1024 * 1024;
  const double socat = SocatSeconds(file);
  std::printf("\n%.0f MB stream from a socat sender on loopback\n", megabytes);
  std::printf("  %-34s %8.3f s  %9.1f MB/s\n", "socat -> /dev/null", socat,
              bytes / socat / 1048576);
  for (const auto& [index, name] : {std::pair{kTextOnlyIndex, "TCP Socket pane, Text Only"},
                                    std::pair{0, "TCP Socket pane, All Data"}}) {
    qint64 chars = 0;
    const double pane = PaneSeconds(file, index, &chars);
    std::printf("  %-34s %8.3f s  %9.1f MB/s  %6.1fx socat  (%.1f M characters shown)\n", name,
                pane, bytes / pane / 1048576, pane / socat, double(chars) / 1e6);
  }
  unlink(file.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  PrepareApplication(app);
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 8;
  Compare(2);
  if (megabytes != 2) Compare(megabytes);
  return 0;
}
