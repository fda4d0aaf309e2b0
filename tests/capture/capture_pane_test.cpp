// The Packet Capture pane driven by control id, capturing real traffic in network namespaces
// of the test's own (the namespace lab of the ping tests), beside tcpdump.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/payload_format.h"
#include "capture/capture_filter_dialog.h"
#include "capture/capture_pane.h"
#include "capture/filter_rules.h"
#include "capture/packet_text.h"
#include "net_lab.h"
#include "packet_builder.h"
#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/module_table.h"
#include "shell/output.h"
#include "shell/payload_display.h"
#include "shell/ui_thread.h"
#include "test_util.h"

namespace {

// A socket address of either family.
struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family() const { return storage.ss_family; }
  sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

SocketAddress Endpoint(const char* address, uint16_t port) {
  SocketAddress a;
  if (std::strchr(address, ':') != nullptr) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
    in6->sin6_family = AF_INET6;
    inet_pton(AF_INET6, address, &in6->sin6_addr);
    in6->sin6_port = htons(port);
    a.length = sizeof *in6;
  } else {
    auto* in = reinterpret_cast<sockaddr_in*>(&a.storage);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = inet_addr(address);
    in->sin_port = htons(port);
    a.length = sizeof *in;
  }
  return a;
}

// A socket of the test's own bound to the address and port (0: the system picks).
int Bound(int type, const char* address, uint16_t port) {
  SocketAddress a = Endpoint(address, port);
  const int fd = socket(a.family(), type | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, a.get(), a.length) != 0) {
    close(fd);
    return -1;
  }
  if (type == SOCK_STREAM) listen(fd, 4);
  return fd;
}

uint16_t LocalPort(int fd) {
  SocketAddress a;
  a.length = sizeof a.storage;
  getsockname(fd, a.get(), &a.length);
  return ntohs(a.family() == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a.storage)->sin6_port
                                      : reinterpret_cast<sockaddr_in*>(&a.storage)->sin_port);
}

// A connected TCP pair: `client` from `from`, `server` accepted on the listener.
struct TcpPair {
  int client = -1;
  int server = -1;
  TcpPair(int listener, const char* from, const char* to, uint16_t port) {
    SocketAddress local = Endpoint(from, 0), remote = Endpoint(to, port);
    client = socket(local.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    bind(client, local.get(), local.length);
    if (connect(client, remote.get(), remote.length) == 0) {
      server = accept(listener, nullptr, nullptr);
    }
  }
  ~TcpPair() {
    close(client);
    close(server);
  }
};

// Reads until `bytes` have come; false when they do not come within the wait.
bool ReceiveAll(int fd, size_t bytes) {
  std::vector<char> buffer(bytes);
  size_t got = 0;
  while (got < bytes) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) return false;
    const ssize_t n = recv(fd, buffer.data() + got, bytes - got, 0);
    if (n <= 0) return false;
    got += size_t(n);
  }
  return true;
}

void SendUdp(int fd, const char* to, uint16_t port, const std::string& data) {
  SocketAddress remote = Endpoint(to, port);
  sendto(fd, data.data(), data.size(), 0, remote.get(), remote.length);
}

// One packet as the pane printed it in "Hex Only" with "Show Packet Info".
struct ShownPacket {
  std::string protocol, source, destination, payload;
  bool operator==(const ShownPacket&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ShownPacket& p) {
  return os << p.protocol << " " << p.source << " > " << p.destination << " (" << p.payload.size()
            << " bytes)";
}

std::vector<ShownPacket> ParseShown(const std::string& text, int* firstNumber) {
  std::vector<ShownPacket> packets;
  const std::regex header(
      "PACKET (\\d+)\r\nProtocol: (TCP|UDP)\r\nSource: ([0-9a-f.:\\[\\]]+)\r\n"
      "Destination: ([0-9a-f.:\\[\\]]+)\r\nBytes: (\\d+)\r\n((?:[0-9a-f]{2}[ \r\n]*)*)");
  int expectedNumber = -1;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), header);
       it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    const int number = std::stoi(m[1]);
    if (expectedNumber < 0 && firstNumber != nullptr) *firstNumber = number;
    EXPECT_TRUE(expectedNumber < 0 || number == expectedNumber) << "numbering";
    expectedNumber = number + 1;
    ShownPacket p{m[2], m[3], m[4], {}};
    const std::string hex = m[6];
    for (size_t i = 0; i + 1 < hex.size(); ++i) {
      if (std::isxdigit(uint8_t(hex[i])) && std::isxdigit(uint8_t(hex[i + 1]))) {
        p.payload += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        ++i;
      }
    }
    EXPECT_EQ(p.payload.size(), std::stoul(m[5]));
    packets.push_back(p);
  }
  return packets;
}

std::string Endpoint(const IpAddress& address, uint16_t port) {
  return EndpointText(address, ntohs(port));
}

// What tcpdump wrote, decoded and filtered as the pane should show it.
std::vector<ShownPacket> ExpectedFromDump(const std::string& file, const CaptureFilter& filter) {
  std::vector<ShownPacket> packets;
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* dump = pcap_open_offline(file.c_str(), error);
  EXPECT_NE(dump, nullptr) << error;
  if (dump == nullptr) return packets;
  auto record = std::make_unique<CapturedPacket>();
  pcap_pkthdr* header;
  const u_char* frame;
  while (pcap_next_ex(dump, &header, &frame) == 1) {
    if (!DecodeFrame(pcap_datalink(dump), frame, header->caplen, record.get()) ||
        !PacketPassesFilter(filter, *record)) {
      continue;
    }
    packets.push_back(
        {record->isTcp ? "TCP" : "UDP", Endpoint(record->sourceAddress, record->sourcePort),
         Endpoint(record->destinationAddress, record->destinationPort),
         std::string(reinterpret_cast<char*>(record->payload), record->payloadLength)});
  }
  pcap_close(dump);
  return packets;
}

// The frames of a capture file.
struct Frame {
  pcap_pkthdr header{};
  std::string bytes;
};

struct FrameFile {
  int linkType = 0;
  int snapLength = 0;
  std::vector<Frame> frames;
};

// The file's frames; with a filter, those whose packets pass it.
FrameFile ReadFrames(const std::string& file, const CaptureFilter* filter = nullptr) {
  FrameFile read;
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* dump = pcap_open_offline(file.c_str(), error);
  EXPECT_NE(dump, nullptr) << error;
  if (dump == nullptr) return read;
  read.linkType = pcap_datalink(dump);
  read.snapLength = pcap_snapshot(dump);
  auto record = std::make_unique<CapturedPacket>();
  pcap_pkthdr* header;
  const u_char* bytes;
  while (pcap_next_ex(dump, &header, &bytes) == 1) {
    if (filter != nullptr && (!DecodeFrame(read.linkType, bytes, header->caplen, record.get()) ||
                              !PacketPassesFilter(*filter, *record))) {
      continue;
    }
    read.frames.push_back(
        {*header, std::string(reinterpret_cast<const char*>(bytes), header->caplen)});
  }
  pcap_close(dump);
  return read;
}

void WritePcap(const std::string& file, const FrameFile& frames) {
  pcap_t* dead = pcap_open_dead(frames.linkType, frames.snapLength);
  pcap_dumper_t* dumper = pcap_dump_open(dead, file.c_str());
  for (const Frame& f : frames.frames) {
    pcap_dump(reinterpret_cast<u_char*>(dumper), &f.header,
              reinterpret_cast<const u_char*>(f.bytes.data()));
  }
  pcap_dump_close(dumper);
  pcap_close(dead);
}

// The same frames as a pcapng file: a section, one interface, an enhanced packet block each.
void WritePcapng(const std::string& file, const FrameFile& frames) {
  std::string out;
  const auto put32 = [&](uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
  const auto put16 = [&](uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); };
  const auto block = [&](uint32_t type, const std::string& body) {
    put32(type);
    put32(uint32_t(12 + body.size()));
    out += body;
    put32(uint32_t(12 + body.size()));
  };
  std::string body;
  std::swap(out, body);
  put32(0x1A2B3C4D);  // byte order
  put16(1);
  put16(0);
  put32(0xFFFFFFFF);  // section length unknown
  put32(0xFFFFFFFF);
  std::swap(out, body);
  block(0x0A0D0D0A, body);
  body.clear();
  std::swap(out, body);
  put16(uint16_t(frames.linkType));
  put16(0);
  put32(uint32_t(frames.snapLength));
  std::swap(out, body);
  block(1, body);
  for (const Frame& f : frames.frames) {
    body.clear();
    std::swap(out, body);
    const uint64_t stamp = uint64_t(f.header.ts.tv_sec) * 1000000 + uint64_t(f.header.ts.tv_usec);
    put32(0);
    put32(uint32_t(stamp >> 32));
    put32(uint32_t(stamp));
    put32(f.header.caplen);
    put32(f.header.len);
    out += f.bytes;
    out.resize((out.size() + 3) / 4 * 4, '\0');
    std::swap(out, body);
    block(6, body);
  }
  FILE* f = fopen(file.c_str(), "wb");
  fwrite(out.data(), 1, out.size(), f);
  fclose(f);
}

// The initial filter with UDP and port 5353 too.
const CaptureFilter kExchangeFilter = [] {
  CaptureFilter filter = InitialCaptureFilter();
  filter.includeUdp = 1;
  filter.ports[1] = NetworkPort(5353);
  return filter;
}();

// A host of the test's own: its address list and its capture wait until the test lets them go
// (or the run is stopped); the capture then hands over all its frames in one batch, waits for
// the stop and ends with counts of its own.
class ScriptedCaptureHost : public CaptureService {
 public:
  int resolveHost(const char*, char*, size_t, const RunToken*) override { return 0; }
  // A pane that asked on the UI thread would wait here, at most two seconds.
  std::vector<IpAddress> captureAddresses() override {
    awaitRelease(addressesReleased_, nullptr, std::chrono::seconds(2));
    return {IpAddress::Ipv4(inet_addr("198.51.100.7"))};
  }
  CaptureOpening open(const IpAddress& address, const CaptureFilter&,
                      const RunToken& token) override {
    asked_ = address.text();
    if (!awaitRelease(captureReleased_, &token)) return {};
    return {std::make_unique<Session>(frames_), 0};
  }

  void releaseAddresses() { release(addressesReleased_); }
  void releaseCapture() { release(captureReleased_); }
  // The frames of the capture, raw IP packets.
  std::vector<std::vector<uint8_t>> frames_;
  std::string asked_;  // the address the capture was opened on

 private:
  class Session : public CaptureSession {
   public:
    explicit Session(const std::vector<std::vector<uint8_t>>& frames) : packets_(frames) {}
    int linkType() const override { return kLinkRaw; }
    int snapLength() const override { return 65535; }
    bool read(CaptureBatch& batch, size_t limit, const RunToken& token) override {
      batch.frames.clear();
      if (handed_) {
        while (!token.cancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return false;
      }
      handed_ = true;
      for (const auto& packet : packets_) {
        if (batch.frames.size() == limit) break;
        batch.frames.push_back(
            {1, 0, uint32_t(packet.size()), uint32_t(packet.size()), packet.data()});
      }
      return true;
    }
    CaptureEnd close() override { return {{5, 2}, 0}; }

   private:
    const std::vector<std::vector<uint8_t>>& packets_;
    bool handed_ = false;
  };

  // False when the token was cancelled first, or the time ran out.
  bool awaitRelease(const bool& released, const RunToken* token,
                    std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!released) {
      if ((token != nullptr && token->cancelled()) || std::chrono::steady_clock::now() > end) {
        return false;
      }
      changed_.wait_for(lock, std::chrono::milliseconds(5));
    }
    return true;
  }
  void release(bool& released) {
    std::lock_guard<std::mutex> lock(mutex_);
    released = true;
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool addressesReleased_ = false;
  bool captureReleased_ = false;
};

class CapturePaneTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUiShuttingDown(false); }
  void TearDown() override {
    if (pane_ != nullptr && pane_->running()) ClickControl(pane_, kCaptureStartId);
    if (pane_ != nullptr) {
      EXPECT_TRUE(WaitUntil([&] { return !pane_->running(); }));
    }
    window_.reset();
    const bool agentInLab = ThroughAgent() && client_ != nullptr;
    client_.reset();
    lab_.reset();
    SetCaptureFileChooser({});
    if (agentInLab) {
      EXPECT_TRUE(UseBuiltAgent());  // this namespace's agent again
    }
  }

  void openWindow() {
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    pane_ = dynamic_cast<CapturePane*>(window_->pane(kCaptureButton));
    ASSERT_NE(pane_, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !pane_->fillingAddresses(); }));
    CurrentCaptureFilter() = InitialCaptureFilter();
    pane_->DescribeFilter();
  }
  // The lab, with this thread (and so the pane's workers) in the client namespace.
  void openLab() {
    lab_ = std::make_unique<NetLab>();
    ASSERT_TRUE(lab_->ok()) << lab_->error();
    client_ = std::make_unique<NetnsScope>(lab_->name(NetLab::kClient));
    ASSERT_TRUE(client_->entered());
    // The agent started from here inspects the client namespace, as the pane's workers do.
    if (ThroughAgent()) {
      ASSERT_TRUE(UseBuiltAgent());
    }
    openWindow();
  }

  void choose(const char* address, uint32_t mode, bool showInfo = true) {
    auto* box = FindControl<QComboBox>(pane_, kCaptureInterfaceId);
    box->setCurrentIndex(box->findText(QString::fromLatin1(address)));
    ASSERT_GE(box->currentIndex(), 0) << address;
    auto* display = FindControl<QComboBox>(pane_, kDisplaySelectorId);
    for (int i = 0; i < kDisplayModeCount; ++i) {
      if (DisplayModeFromIndex(i) == mode) display->setCurrentIndex(i);
    }
    FindControl<QCheckBox>(pane_, kCaptureShowInfoId)->setChecked(showInfo);
  }
  // Starts and waits until the capture is open, or the run has ended (a failure to open).
  void start() {
    window_->ShowModule(kCaptureButton);
    pressEnter();
    EXPECT_TRUE(WaitUntil([&] { return pane_->capturing() || !pane_->running(); }, 10000));
  }
  // Enter reaches the pane as command 1: Start or Stop.
  void pressEnter() {
    QWidget* output = FindControlWidget(pane_, kOutputPaneId);
    output->setFocus();
    QTest::keyClick(output, Qt::Key_Return);
    QCoreApplication::processEvents();  // the window posts the command
  }
  void stopAndWait() {
    pressEnter();
    ASSERT_TRUE(WaitUntil([&] { return !pane_->running(); }));
  }
  std::string output() const { return GetOutputText(pane_, kOutputPaneId); }
  // A command of the File... button's menu, as choosing its entry gives it.
  void fileCommand(int id) {
    auto* button = FindControl<QPushButton>(pane_, kCaptureFileId);
    ASSERT_TRUE(button->isEnabled());
    auto* action = button->menu()->findChild<QAction*>(QString::number(id));
    ASSERT_NE(action, nullptr);
    action->trigger();
  }
  // Opens a capture file through the menu and waits until all of it is shown.
  void openAndWait(const std::string& path) {
    SetCaptureFileChooser(
        [path](QWidget*, bool save) { return save ? QString() : QString::fromStdString(path); });
    fileCommand(kCmdOpenCaptureFile);
    EXPECT_TRUE(WaitUntil([&] { return !pane_->running(); }, 20000)) << path;
  }
  // tcpdump writing a file of the lab's traffic, each packet at once, into a ring large enough
  // for whole veth packets; started when the file is there.
  std::unique_ptr<ChildProcess> startTcpdump(std::vector<std::string> options,
                                             const std::string& file) {
    std::vector<std::string> argv = {"tcpdump", "-U", "--immediate-mode", "-B", "32768"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"-w", file});
    auto tcpdump = std::make_unique<ChildProcess>(argv);
    EXPECT_TRUE(WaitUntil([&] {
      struct stat s {};
      return stat(file.c_str(), &s) == 0;
    })) << "tcpdump did not start";
    return tcpdump;
  }
  // Traffic between the client and the first router over IPv4 and IPv6 that kExchangeFilter
  // shows in part: TCP on port 80 both ways, UDP queries to 5353 and their answers, UDP to 5354;
  // over IPv6 also a datagram behind a destination options header and one split in fragments.
  // It ends with an answer of 1234 bytes of "z": once the pane and each of `dumps` have that,
  // they have everything before it.
  void exchangeWithRouter(const std::vector<std::string>& dumps) {
    struct FarEnd {
      int listener = -1;
      int udp = -1;
    } far4, far6;
    {
      NetnsScope router(lab_->name(NetLab::kRouter1));
      far4 = {Bound(SOCK_STREAM, kLabRouter1, 80), Bound(SOCK_DGRAM, kLabRouter1, 5353)};
      far6 = {Bound(SOCK_STREAM, kLabRouter1Ipv6, 80), Bound(SOCK_DGRAM, kLabRouter1Ipv6, 5353)};
    }
    ASSERT_GE(far4.listener, 0);
    ASSERT_GE(far6.listener, 0);
    const auto exchange = [&](const char* near, const char* far, const FarEnd& end) {
      const int nearUdp = Bound(SOCK_DGRAM, near, 0);
      TcpPair pair(end.listener, near, far, 80);
      ASSERT_GE(pair.server, 0);
      for (int i = 0; i < 10; ++i) {
        const std::string data(size_t(1 + i * 140), char('a' + i));
        ASSERT_EQ(send(i % 2 ? pair.client : pair.server, data.data(), data.size(), 0),
                  ssize_t(data.size()));
        SendUdp(nearUdp, far, 5353, "query " + std::to_string(i));
        SendUdp(nearUdp, far, 5354, "not shown");
        SendUdp(end.udp, near, LocalPort(nearUdp), std::string(size_t(i * 120), 'r'));
      }
      // Every TCP byte has crossed the link once both ends have read it all.
      ASSERT_TRUE(ReceiveAll(pair.server, 3505) && ReceiveAll(pair.client, 2805));
      close(nearUdp);
    };
    exchange("198.18.1.2", kLabRouter1, far4);
    exchange(kLabClientIpv6, kLabRouter1Ipv6, far6);
    const int udp6 = Bound(SOCK_DGRAM, kLabClientIpv6, 0);
    const uint8_t options[8] = {0, 0, 1, 4, 0, 0, 0, 0};  // one PadN option filling 8 bytes
    EXPECT_EQ(setsockopt(udp6, IPPROTO_IPV6, IPV6_DSTOPTS, options, sizeof options), 0);
    SendUdp(udp6, kLabRouter1Ipv6, 5353, "behind destination options");
    SendUdp(udp6, kLabRouter1Ipv6, 5353, std::string(3000, 's'));  // split in fragments
    const int udp = Bound(SOCK_DGRAM, "198.18.1.2", 0);
    SendUdp(far4.udp, "198.18.1.2", LocalPort(udp), std::string(1234, 'z'));
    const auto hasLast = [](const std::vector<ShownPacket>& packets) {
      return std::any_of(packets.begin(), packets.end(),
                         [](const ShownPacket& p) { return p.payload == std::string(1234, 'z'); });
    };
    EXPECT_TRUE(
        WaitUntil([&] { return output().find("Bytes: 1234\r\n") != std::string::npos; }, 30000));
    for (const std::string& dump : dumps) {
      EXPECT_TRUE(WaitUntil(
          [&] {
            struct stat s {};
            return stat(dump.c_str(), &s) == 0 && s.st_size > 24 &&
                   hasLast(ExpectedFromDump(dump, kExchangeFilter));
          },
          30000))
          << dump;
    }
    for (int fd : {far4.listener, far4.udp, far6.listener, far6.udp, udp, udp6}) close(fd);
  }
  bool waitForOutput(const std::string& expected) {
    return WaitUntil([&] { return output() == expected; }, 5000);
  }
  // Runs `act` on the filter dialog while Edit Filter... has it open.
  void withFilterDialog(const std::function<void(QDialog&)>& act) {
    QTimer::singleShot(0, pane_, [&] {
      auto* dialog = pane_->findChild<CaptureFilterDialog*>();
      ASSERT_NE(dialog, nullptr);
      act(*dialog);
      if (dialog->isVisible()) dialog->reject();
    });
    ClickControl(pane_, kCaptureEditFilterId);
  }

  RecordingPresenter boxes_;
  std::unique_ptr<NetLab> lab_;
  std::unique_ptr<NetnsScope> client_;
  std::unique_ptr<MainWindow> window_;
  CapturePane* pane_ = nullptr;
};

#define REQUIRE_ROOT() \
  if (!IsRoot()) GTEST_SKIP() << "network namespaces and packet capture need root"

}  // namespace

// Loopback of the client namespace: exact text, numbering, large packets, IP options.
TEST_F(CapturePaneTest, ShowsTheFilteredPayloadsNumberedFromOne) {
  REQUIRE_ROOT();
  ASSERT_NO_FATAL_FAILURE(openLab());
  choose("127.0.0.1", kDisplayTextOnly);
  const int web = Bound(SOCK_STREAM, "127.0.0.1", 80);
  const int other = Bound(SOCK_STREAM, "127.0.0.1", 81);
  const int udp = Bound(SOCK_DGRAM, "127.0.0.1", 80);
  ASSERT_GE(web, 0);
  start();

  // With the initial filter only TCP payloads on port 80 are shown; the connection's set-up
  // and acknowledgements, port 81 and UDP are not.
  TcpPair pair(web, "127.0.0.1", "127.0.0.1", 80);
  TcpPair elsewhere(other, "127.0.0.1", "127.0.0.1", 81);
  ASSERT_GE(pair.server, 0);
  const std::string client = "127.0.0.1:" + std::to_string(LocalPort(pair.client));
  ASSERT_EQ(send(elsewhere.client, "no", 2, 0), 2);
  SendUdp(udp, "127.0.0.1", 80, "not UDP");
  ASSERT_EQ(send(pair.client, "GET / HTTP/1.0\r\n", 16, 0), 16);
  std::string expected = "\r\nPACKET 1\r\nProtocol: TCP\r\nSource: " + client +
                         "\r\nDestination: 127.0.0.1:80\r\nBytes: 16\r\nGET / HTTP/1.0\r\n\r\n";
  ASSERT_TRUE(waitForOutput(expected)) << output();
  // Larger than 2000 bytes: shown whole.
  const std::string large(30000, 'L');
  ASSERT_EQ(send(pair.server, large.data(), large.size(), 0), ssize_t(large.size()));
  expected += "\r\nPACKET 2\r\nProtocol: TCP\r\nSource: 127.0.0.1:80\r\nDestination: " + client +
              "\r\nBytes: 30000\r\n" + large + "\r\n";
  ASSERT_TRUE(waitForOutput(expected)) << output().size();
  stopAndWait();

  // UDP once included, with the same ports; Stop then Start numbers from 1 again and keeps
  // what was shown. The datagram carries IP options: its real payload is shown.
  withFilterDialog([](QDialog& d) {
    FindControl<QCheckBox>(&d, kFilterUdpId)->setChecked(true);
    ClickControl(&d, kFilterOkId);
  });
  EXPECT_EQ(ReadControlText(pane_, kCaptureFilterTextId),
            "Protocols: TCP UDP\nPorts: (src/dst) 80\nAddresses: Allow Any Address");
  choose("127.0.0.1", kDisplayTextOnly, false);
  start();
  const int sender = Bound(SOCK_DGRAM, "127.0.0.1", 0);
  const uint8_t options[8] = {1, 1, 1, 1, 1, 1, 1, 0};  // no-operations, end of list
  ASSERT_EQ(setsockopt(sender, IPPROTO_IP, IP_OPTIONS, options, sizeof options), 0);
  SendUdp(sender, "127.0.0.1", 80, "with options");
  expected += "with options\r\n";
  ASSERT_TRUE(waitForOutput(expected)) << output();
  SendUdp(sender, "127.0.0.1", 80, "second");
  expected += "second\r\n";
  ASSERT_TRUE(waitForOutput(expected)) << output();
  stopAndWait();

  // Past 2,000,000 characters the oldest lines go first: whole lines, the newest in view.
  start();
  const auto datagram = [](int i) {
    return std::to_string(100 + i) + std::string(29995, char('a' + i % 26));
  };
  for (int i = 0; i < 80; ++i) {
    SendUdp(sender, "127.0.0.1", 80, datagram(i));
    usleep(2000);
  }
  ASSERT_TRUE(WaitUntil([&] { return output().ends_with(datagram(79) + "\r\n"); }, 10000));
  stopAndWait();
  const std::string kept = output();
  const size_t lines = size_t(std::count(kept.begin(), kept.end(), '\n'));
  EXPECT_LE(kept.size() - lines, kOutputPaneLimit);  // "\r\n" is one character there
  const int first = 80 - int(lines);
  ASSERT_GT(first, 0);
  std::string expectedKept;
  for (int i = first; i < 80; ++i) expectedKept += datagram(i) + "\r\n";
  EXPECT_TRUE(kept == expectedKept) << kept.substr(0, 40) << " " << kept.size() << " " << lines;
  for (int fd : {web, other, udp, sender}) close(fd);
  EXPECT_EQ(boxes_.count(), 0u);
  EXPECT_EQ(ReadControlText(pane_, kCaptureStartId), "Start");
}

// A veth link: every packet the pane shows is one tcpdump saw, with the same endpoints and
// payload bytes, and none is missing. Captured on the interface of its IPv6 address, IPv4 and
// IPv6 both: a payload behind a destination options header, the first piece of a datagram split
// in fragments. Then the interface goes away under the capture.
TEST_F(CapturePaneTest, ShowsWhatTcpdumpSawPacketForPacket) {
  REQUIRE_ROOT();
  ASSERT_NO_FATAL_FAILURE(openLab());
  SendToPacketCapture(&kExchangeFilter);
  choose(kLabClientIpv6, kDisplayHexOnly);

  TempDir dir;
  const std::string dump = dir.file("seen.pcap");
  const auto tcpdump = startTcpdump({"-i", "e1"}, dump);
  start();
  ASSERT_NO_FATAL_FAILURE(exchangeWithRouter({dump}));
  tcpdump->stop();
  stopAndWait();

  int first = 0;
  const std::vector<ShownPacket> shown = ParseShown(output(), &first);
  const std::vector<ShownPacket> seen = ExpectedFromDump(dump, kExchangeFilter);
  EXPECT_EQ(first, 1);
  EXPECT_GE(seen.size(), 40u);  // the exchanges got through; TCP may merge some sends
  ASSERT_EQ(shown.size(), seen.size());
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(shown[i], seen[i]) << "packet " << i;
  const auto shownFrom = [&](const std::string& source, const std::string& payload) {
    return std::count_if(shown.begin(), shown.end(), [&](const ShownPacket& p) {
      return p.source.starts_with(source) && p.payload.starts_with(payload);
    });
  };
  EXPECT_EQ(shownFrom("198.18.1.2:", "query "), 10);
  EXPECT_EQ(shownFrom("[2001:2:1::2]:", "query "), 10);
  EXPECT_EQ(shownFrom("[2001:2:1::2]:", "behind destination options"), 1);
  EXPECT_EQ(shownFrom("[2001:2:1::2]:", "sss"), 1);  // the first fragment alone

  // The capture ends by itself, without a message, when its interface goes away.
  start();
  ASSERT_EQ(RunCommand("ip -n " + lab_->name(NetLab::kClient) + " link del e1 && echo ok"), "ok\n");
  EXPECT_TRUE(WaitUntil([&] { return !pane_->running(); }));
  EXPECT_EQ(boxes_.count(), 0u);
  // Started on the address that has left: a message with ENODEV, no hang.
  start();
  EXPECT_TRUE(WaitUntil([&] { return !pane_->running(); }));
  EXPECT_EQ(boxes_.texts(),
            std::vector<std::string>{"Failed To Create Packet Capturing Socket:  Code: 19"});
}

// Saved while shown: the file holds the very frames that tcpdump wrote beside it and the filter
// passes, as tcpdump reads them. Opened again, this file and tcpdump's (pcap and pcapng, of the
// interface and of all interfaces in another link type) each show exactly what the live run
// showed; a file cut short shows the packets before the cut and says so.
TEST_F(CapturePaneTest, SavesWhatItCapturesAndOpensFilesAsALiveRunShowsThem) {
  REQUIRE_ROOT();
  ASSERT_NO_FATAL_FAILURE(openLab());
  SendToPacketCapture(&kExchangeFilter);
  // Saving, the pane shows only what it has room for. As text the whole exchange stays within
  // that room, so even a window kept waiting by a busy machine shows every packet of the run.
  choose(kLabClientIpv6, kDisplayTextOnly);
  TempDir dir;
  const std::string saved = dir.file("saved.pcap"), theirs = dir.file("theirs.pcap"),
                    cooked = dir.file("cooked.pcap");
  const auto onLink = startTcpdump({"-i", "e1"}, theirs);
  const auto onAll = startTcpdump({"-i", "any", "-y", "LINUX_SLL2"}, cooked);
  SetCaptureFileChooser(
      [&](QWidget*, bool save) { return save ? QString::fromStdString(saved) : QString(); });
  fileCommand(kCmdSaveToFile);
  EXPECT_EQ(pane_->saveFile().toStdString(), saved);
  start();
  EXPECT_TRUE(pane_->saveFile().isEmpty());  // for this run only
  ASSERT_NO_FATAL_FAILURE(exchangeWithRouter({theirs, cooked}));
  onLink->stop();
  onAll->stop();
  stopAndWait();
  const std::string savingLine = "#>[Saving To: " + saved + "]\r\n";
  const std::string live = output();
  ASSERT_TRUE(live.starts_with(savingLine)) << live.substr(0, 200);
  const std::string shown = live.substr(savingLine.size());
  size_t packets = 0;
  for (size_t at = 0; (at = shown.find("\r\nPACKET ", at)) != std::string::npos; ++at) ++packets;
  EXPECT_GE(packets, 40u);

  const std::string expected = dir.file("expected.pcap");
  WritePcap(expected, ReadFrames(theirs, &kExchangeFilter));
  const std::string read = RunCommand("tcpdump -nn -t -xx -r " + saved + " 2>/dev/null");
  EXPECT_GT(read.size(), 10000u);
  EXPECT_TRUE(read == RunCommand("tcpdump -nn -t -xx -r " + expected + " 2>/dev/null"));

  const std::string pcapng = dir.file("theirs.pcapng");
  WritePcapng(pcapng, ReadFrames(theirs));
  EXPECT_EQ(ReadFrames(cooked).linkType, kLinkLinuxSll2);
  for (const std::string& file : {saved, theirs, pcapng, cooked}) {
    SetControlText(pane_, kOutputPaneId, QString());
    openAndWait(file);
    EXPECT_TRUE(output() == shown) << file << "\n" << output().substr(0, 300);
  }
  // Cut inside its last frame.
  const std::string cut = dir.file("cut.pcap");
  std::filesystem::copy_file(saved, cut);
  std::filesystem::resize_file(cut, std::filesystem::file_size(saved) - 10);
  SetControlText(pane_, kOutputPaneId, QString());
  openAndWait(cut);
  EXPECT_EQ(output(), shown.substr(0, shown.rfind("\r\nPACKET ")) +
                          "\r\n#>[ERROR: Capture File Damaged Or Cut Short]\r\n");
  EXPECT_EQ(boxes_.count(), 0u);
}

// A flood from the router. While the pane cannot keep up and the capture waits for it, the
// kernel drops packets, and the run says how many at its end. Saving, the capture never waits:
// the file gets every packet the kernel delivered, and the pane shows what it can, numbered as in
// the file; a run that lost packets also says how many were saved.
TEST_F(CapturePaneTest, SavingUnderAFloodKeepsEveryPacketTheKernelDelivered) {
  REQUIRE_ROOT();
  ASSERT_NO_FATAL_FAILURE(openLab());
  // Only IPv4 packets to port 9 of the client reach the window, so the kernel's counts are of
  // those alone.
  CaptureFilter filter;
  filter.includeUdp = 1;
  filter.portMode = 3;
  filter.ports[0] = NetworkPort(9);
  filter.addressMode = 3;
  filter.addresses[0] = IpAddress::Ipv4(inet_addr("198.18.1.2"));
  SendToPacketCapture(&filter);
  const int sink = Bound(SOCK_DGRAM, "198.18.1.2", 9);
  int router = -1;
  {
    NetnsScope inRouter(lab_->name(NetLab::kRouter1));
    router = Bound(SOCK_DGRAM, kLabRouter1, 0);
  }
  // Datagrams for a second as fast as they go; `serve` false keeps the UI busy meanwhile.
  const auto flood = [&](bool serve) {
    long sent = 0;
    std::atomic<bool> done{false};
    std::thread sender([&] {
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
      while (std::chrono::steady_clock::now() < end) {
        SendUdp(router, "198.18.1.2", 9, "flood flood flood flood flood..");
        ++sent;
      }
      done = true;
    });
    if (serve) {
      EXPECT_TRUE(WaitUntil([&] { return done.load(); }));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    }
    sender.join();
    return sent;
  };
  // A last datagram shown means everything before it was read; the pane shows one once it has
  // caught up.
  long markers = 0;
  const auto catchUp = [&] {
    return WaitUntil(
        [&] {
          SendUdp(router, "198.18.1.2", 9, "last");
          ++markers;
          return WaitUntil([&] { return output().ends_with("last\r\n"); }, 300);
        },
        30000);
  };

  choose("198.18.1.2", kDisplayTextOnly, false);  // a line a packet: the pane catches up sooner
  start();
  flood(false);
  ASSERT_TRUE(catchUp());
  stopAndWait();
  const CaptureCounts waited = pane_->lastRunCounts();
  // Over ssh, ssh's own buffers and the network's may hold what the stalled window does not
  // read, so the kernel need not drop; when it does, the pane says so.
  if (!ThroughSsh()) {
    EXPECT_GT(waited.dropped, 0u);
  }
  const std::string dropped = "last\r\n\r\n#>[Packets Lost: " + std::to_string(waited.dropped) +
                              " Dropped By The Kernel]\r\n";
  EXPECT_TRUE(output().ends_with(waited.dropped > 0 ? dropped : "last\r\n"))
      << output().substr(output().size() - 200);

  TempDir dir;
  const std::string saved = dir.file("flood.pcap");
  SetCaptureFileChooser([&](QWidget*, bool) { return QString::fromStdString(saved); });
  fileCommand(kCmdSaveToFile);
  SetControlText(pane_, kOutputPaneId, QString());
  choose("198.18.1.2", kDisplayTextOnly);
  start();
  markers = 0;
  const long sent = flood(true);
  ASSERT_TRUE(catchUp());
  stopAndWait();
  const size_t inFile = ReadFrames(saved).frames.size();
  const CaptureCounts counts = pane_->lastRunCounts();
  EXPECT_EQ(inFile, counts.received - counts.dropped);
  if (counts.dropped == 0) {
    EXPECT_EQ(inFile, size_t(sent + markers));
  }
  const std::string text = output();
  const std::string lost = "last\r\n\r\n#>[Packets Lost: " + std::to_string(counts.dropped) +
                           " Dropped By The Kernel, " + std::to_string(inFile) +
                           " Saved To File]\r\n";
  EXPECT_TRUE(text.ends_with(counts.dropped > 0 ? lost : "last\r\n"))
      << text.substr(text.size() - 200);
  // The numbers go up as the file's do; the last one shown is the file's last packet.
  long previous = 0;
  for (size_t at = 0; (at = text.find("\r\nPACKET ", at)) != std::string::npos; ++at) {
    const long number = std::atol(text.c_str() + at + 9);
    EXPECT_GT(number, previous);
    previous = number;
  }
  EXPECT_EQ(previous, long(inFile));
  close(sink);
  close(router);
}

// Saving to where no file can be made ends the run with a message; a write that fails during
// the capture (here the size limit of the process, EFBIG) ends the saving with a message, and the
// capture goes on, the file keeping what was written.
TEST_F(CapturePaneTest, AFileThatCannotBeWrittenEndsTheSavingNotTheCapture) {
  REQUIRE_ROOT();
  ASSERT_NO_FATAL_FAILURE(openLab());
  CaptureFilter filter = InitialCaptureFilter();
  filter.includeUdp = 1;
  SendToPacketCapture(&filter);
  choose("127.0.0.1", kDisplayTextOnly, false);
  TempDir dir;
  std::string file;
  SetCaptureFileChooser([&](QWidget*, bool) { return QString::fromStdString(file); });
  // A folder that is not there; a FIFO nobody reads, which must not hang the run.
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& where : {dir.file("missing/capture.pcap"), fifo}) {
    file = where;
    fileCommand(kCmdSaveToFile);
    start();
    ASSERT_TRUE(WaitUntil([&] { return !pane_->running(); }));
  }
  EXPECT_EQ(boxes_.texts(), (std::vector<std::string>{"Failed To Create Capture File:  Code: 2",
                                                      "Failed To Create Capture File:  Code: 6"}));
  EXPECT_EQ(output(), "");

  file = dir.file("limited.pcap");
  fileCommand(kCmdSaveToFile);
  // Files of this process end at 64 KiB while the object lives.
  struct FileSizeLimit {
    rlimit before{};
    FileSizeLimit() {
      getrlimit(RLIMIT_FSIZE, &before);
      const rlimit small{64 * 1024, before.rlim_max};
      setrlimit(RLIMIT_FSIZE, &small);
      signal(SIGXFSZ, SIG_IGN);  // a failed write, not the end of the process
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &before); }
  };
  auto limit = std::make_unique<FileSizeLimit>();
  start();
  const int udp = Bound(SOCK_DGRAM, "127.0.0.1", 0);
  const std::string datagram(1000, 'd');
  std::string expected = "#>[Saving To: " + file + "]\r\n";
  for (int i = 0; i < 100; ++i) {
    SendUdp(udp, "127.0.0.1", 80, datagram);
    expected += datagram + "\r\n";
  }
  ASSERT_TRUE(waitForOutput(expected)) << output().size();
  // The file gets its bytes within a second: the next packet's write meets the limit.
  ServeEvents(1100);
  SendUdp(udp, "127.0.0.1", 80, "after");
  expected += "after\r\n\r\n#>[ERROR: Saving Ended, Failed To Write Capture File:  Code: 27]\r\n";
  ASSERT_TRUE(waitForOutput(expected)) << output().substr(output().size() - 200);
  SendUdp(udp, "127.0.0.1", 80, "still shown");
  expected += "still shown\r\n";
  ASSERT_TRUE(waitForOutput(expected));
  stopAndWait();
  limit.reset();
  EXPECT_EQ(std::filesystem::file_size(file), 64u * 1024);
  EXPECT_GT(ReadFrames(file).frames.size(), 50u);  // whole frames up to the limit
  EXPECT_EQ(boxes_.count(), 2u);
  close(udp);
}

// Files that are no capture files, or of a link type the decoder does not read, are refused with
// a message; a file far larger than the pane ends with the pane holding what showing every
// packet would have left in it.
TEST_F(CapturePaneTest, OpensAnyFileWithinThePanesBoundsOrSaysWhyNot) {
  openWindow();
  TempDir dir;
  const std::string text = dir.file("notes.txt");
  RunCommand("echo not a capture > " + text);
  FrameFile radio;
  radio.linkType = 105;  // IEEE 802.11
  radio.snapLength = 65535;
  radio.frames.push_back({{{1, 0}, 3, 3}, "abc"});
  const std::string wireless = dir.file("wireless.pcap");
  WritePcap(wireless, radio);
  for (const std::string& file : {dir.file("missing.pcap"), text, wireless}) openAndWait(file);
  EXPECT_EQ(boxes_.texts(),
            (std::vector<std::string>{"Failed To Open Capture File:  Code: 2",
                                      "Unknown Capture File Format!",
                                      "Unsupported Link Type In Capture File: 105"}));
  EXPECT_EQ(output(), "");

  // Three thousand IPv6 datagrams of a thousand bytes: some 13 MB of "All Data".
  FrameFile large;
  large.linkType = kLinkRaw;
  large.snapLength = 65535;
  std::string all;
  auto record = std::make_unique<CapturedPacket>();
  for (int i = 0; i < 3000; ++i) {
    PacketFields fields;
    fields.ipv6 = true;
    fields.protocol = 17;
    fields.destinationPort = 80;
    fields.payload = std::to_string(i) + std::string(1000, char('a' + i % 26));
    const std::vector<uint8_t> packet = BuildIpPacket(fields);
    large.frames.push_back({{{i, 0}, uint32_t(packet.size()), uint32_t(packet.size())},
                            std::string(packet.begin(), packet.end())});
    ASSERT_TRUE(DecodeFrame(kLinkRaw, packet.data(), packet.size(), record.get()));
    all += FormatCapturedPacket(i + 1, *record, kDisplayAllData, true);
  }
  const std::string file = dir.file("large.pcap");
  WritePcap(file, large);
  CaptureFilter udp80 = InitialCaptureFilter();
  udp80.includeUdp = 1;
  SendToPacketCapture(&udp80);
  choose("127.0.0.1", kDisplayAllData);
  openAndWait(file);
  QWidget everything;
  MakeOutputPane(&everything, kOutputPaneId, QRect(0, 0, 100, 100), true, OutputScrollBars::Both,
                 true);
  AppendOutput(&everything, kOutputPaneId, all);
  EXPECT_TRUE(output() == GetOutputText(&everything, kOutputPaneId));
  EXPECT_LT(output().size(), all.size() / 4);
}

// A file given to the program (its command line, the file manager's "Open With") shows its
// pane and its packets as "Open Capture File..." does; one that cannot be read gets the message
// and nothing else.
TEST_F(CapturePaneTest, AFileGivenToTheProgramIsShownInItsPane) {
  openWindow();
  FrameFile frames;
  frames.linkType = kLinkEthernet;  // as a capture on a network card saves it
  frames.snapLength = 65535;
  std::string expected;
  auto record = std::make_unique<CapturedPacket>();
  int shown = 0;
  for (const auto& [protocol, payload] :
       {std::pair{6, "GET / HTTP/1.1"}, std::pair{17, "dns"}, std::pair{6, "hello"}}) {
    PacketFields fields;
    fields.protocol = uint8_t(protocol);
    fields.payload = payload;
    const std::vector<uint8_t> frame = EthernetFrame(BuildIpPacket(fields));
    frames.frames.push_back({{{1, 0}, uint32_t(frame.size()), uint32_t(frame.size())},
                             std::string(frame.begin(), frame.end())});
    ASSERT_TRUE(DecodeFrame(kLinkEthernet, frame.data(), frame.size(), record.get()));
    // The first filter shows TCP on port 80 only.
    if (protocol == 6) expected += FormatCapturedPacket(++shown, *record, kDisplayAllData, true);
  }
  TempDir dir;
  const std::string file = dir.file("trace.pcap");
  WritePcap(file, frames);
  ASSERT_EQ(window_->currentPane(), window_->pane(kNetstatButton));

  ShowCaptureFile(QString::fromStdString(file));
  EXPECT_EQ(window_->currentPane(), pane_);
  ASSERT_TRUE(WaitUntil([&] { return !pane_->running(); }));
  EXPECT_EQ(output(), expected);
  EXPECT_EQ(boxes_.count(), 0u);

  window_->ShowModule(kNetstatButton);
  ShowCaptureFile(QString::fromStdString(dir.file("missing.pcap")));
  ASSERT_TRUE(WaitUntil([&] { return !pane_->running(); }));
  EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"Failed To Open Capture File:  Code: 2"});
  EXPECT_EQ(output(), expected);
}

TEST_F(CapturePaneTest, WithoutPrivilegeOrInterfaceTheRunEndsAtOnce) {
  openWindow();
  choose("127.0.0.1", kDisplayAllData);
  if (!ThroughAgent()) {  // the agent's helper is its host's, which the test cannot take away
    {
      WithoutHelper unprivileged;
      start();
      ASSERT_TRUE(WaitUntil([&] { return !pane_->running(); }));
    }
    EXPECT_EQ(boxes_.texts(),
              std::vector<std::string>{"Failed To Create Packet Capturing Socket:  Code: 1"});
    EXPECT_EQ(boxes_.boxes()[0].owner, pane_);
  }

  boxes_.clear();
  FindControl<QComboBox>(pane_, kCaptureInterfaceId)->clear();
  start();
  ASSERT_TRUE(WaitUntil([&] { return !pane_->running(); }));
  EXPECT_EQ(boxes_.count(), 0u);
  EXPECT_EQ(output(), "");
  for (int id :
       {kCaptureEditFilterId, kCaptureInterfaceId, kDisplaySelectorId, kCaptureShowInfoId}) {
    EXPECT_TRUE(FindControlWidget(pane_, id)->isEnabled()) << id;
  }
}

TEST_F(CapturePaneTest, FilterDialogStoresOrRefusesAndSendToReplacesTheFilter) {
  openWindow();
  const auto type = [](QDialog& d, int id, const char* text) {
    FindControl<QLineEdit>(&d, id)->setText(QString::fromLatin1(text));
  };
  const auto filterText = [&] { return ReadControlText(pane_, kCaptureFilterTextId); };

  // The dialog shows the current filter; a zero port or address leaves it open, unchanged.
  withFilterDialog([&](QDialog& d) {
    EXPECT_TRUE(FindControl<QCheckBox>(&d, kFilterTcpId)->isChecked());
    EXPECT_FALSE(FindControl<QCheckBox>(&d, kFilterUdpId)->isChecked());
    EXPECT_EQ(FindControl<QComboBox>(&d, kFilterPortModeId)->currentText(),
              "Only Show ports in list");
    EXPECT_EQ(ReadControlText(&d, kFilterPortsId), "80");
    for (const char* ports : {"80,,443", "65536", "x"}) {
      type(d, kFilterPortsId, ports);
      ClickControl(&d, kFilterOkId);
      EXPECT_TRUE(d.isVisible()) << ports;
    }
    type(d, kFilterPortsId, "80, 443 ,,");
    FindControl<QComboBox>(&d, kFilterAddressModeId)->setCurrentIndex(2);
    for (const char* addresses : {"10.0.0.1,0.0.0.0", "10.0.0.1,,10.0.0.2", "2001:db8::1,::"}) {
      type(d, kFilterAddressesId, addresses);
      ClickControl(&d, kFilterOkId);
      EXPECT_TRUE(d.isVisible()) << addresses;
    }
  });
  EXPECT_EQ(boxes_.texts(), (std::vector<std::string>{
                                "Zero Is NOT allowed at a Port Number!",
                                "Zero Is NOT allowed at a Port Number!",
                                "Zero Is NOT allowed at a Port Number!",
                                "0.0.0.0 Is NOT allowed as an Address!",
                                "0.0.0.0 Is NOT allowed as an Address!",
                                "0.0.0.0 Is NOT allowed as an Address!",
                            }));
  EXPECT_EQ(filterText(), "Protocols: TCP\nPorts: (src/dst) 80\nAddresses: Allow Any Address");

  // Stored: the lists cleaned up, a piece that is no address kept as 255.255.255.255, the
  // eleventh port dropped; shown again as stored next time.
  withFilterDialog([&](QDialog& d) {
    type(d, kFilterPortsId, "80, 443 ,1,2,3,4,5,6,7,8,9 ,,");
    FindControl<QComboBox>(&d, kFilterAddressModeId)->setCurrentIndex(2);
    type(d, kFilterAddressesId, "10.0.0.1,abc");
    ClickControl(&d, kFilterOkId);
    EXPECT_FALSE(d.isVisible());
  });
  EXPECT_EQ(filterText(),
            "Protocols: TCP\nPorts: (src/dst) 80,443,1,2,3,4,5,6,7,8\n"
            "Addresses: (src) 10.0.0.1,255.255.255.255");
  // IPv6 addresses, stored as the system writes them; ten of the longest fit the field.
  std::string longest, stored;
  for (int i = 0; i < kFilterListLength; ++i) {
    longest += (i ? "," : "") + std::string("FFFF:ffff:ffff:ffff:ffff:ffff:255.255.255.") +
               std::to_string(240 + i);
    stored +=
        (i ? "," : "") + std::string("ffff:ffff:ffff:ffff:ffff:ffff:ffff:fff") + "0123456789"[i];
  }
  for (const auto& [typed, shown] :
       {std::pair{std::string("2001:DB8:0:0::1"), std::string("2001:db8::1")},
        std::pair{longest, stored}}) {
    withFilterDialog([&](QDialog& d) {
      type(d, kFilterAddressesId, typed.c_str());
      ClickControl(&d, kFilterOkId);
    });
    EXPECT_EQ(FilterAddressesText(CurrentCaptureFilter()), shown);
  }
  EXPECT_EQ(CurrentCaptureFilter().addressMode, 2);
  withFilterDialog([&](QDialog& d) {
    type(d, kFilterAddressesId, "10.0.0.1,abc");
    ClickControl(&d, kFilterOkId);
  });
  withFilterDialog([&](QDialog& d) {
    EXPECT_EQ(ReadControlText(&d, kFilterPortsId), "80,443,1,2,3,4,5,6,7,8");
    FindControl<QCheckBox>(&d, kFilterTcpId)->setChecked(false);
    ClickControl(&d, kFilterCancelId);  // leaves the filter as it was
  });
  EXPECT_EQ(CurrentCaptureFilter().includeTcp, 1);
  // From the keyboard: Enter on a focused Cancel cancels; in a field it is OK again.
  withFilterDialog([&](QDialog& d) {
    FindControl<QCheckBox>(&d, kFilterTcpId)->setChecked(false);
    QWidget* cancel = FindControlWidget(&d, kFilterCancelId);
    cancel->setFocus();
    QTest::keyClick(cancel, Qt::Key_Return);
  });
  EXPECT_EQ(CurrentCaptureFilter().includeTcp, 1);
  withFilterDialog([&](QDialog& d) {
    FindControlWidget(&d, kFilterCancelId)->setFocus();
    QWidget* ports = FindControlWidget(&d, kFilterPortsId);
    ports->setFocus();
    QTest::keyClick(ports, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(ports, "8080");
    QTest::keyClick(ports, Qt::Key_Return);
  });
  EXPECT_EQ(CurrentCaptureFilter().ports[0], NetworkPort(8080));

  // Netstat's Send To: the whole filter replaced, the output cleared, the pane shown.
  window_->ShowModule(kDnsButton);
  AppendOutput(pane_, kOutputPaneId, std::string("old\r\n"));
  CaptureFilter endpoint;
  endpoint.includeUdp = 1;
  endpoint.portMode = 3;
  endpoint.ports[0] = NetworkPort(53);
  SendToPacketCapture(&endpoint);
  EXPECT_EQ(filterText(), "Protocols: UDP\nPorts: (dst) 53\nAddresses: Allow Any Address");
  EXPECT_EQ(output(), "");
  EXPECT_TRUE(pane_->isVisible());
  EXPECT_FALSE(pane_->running());
}

// In the pane and the filter dialog no text is cut off, not even the description of a filter with
// both lists full.
TEST_F(CapturePaneTest, EveryTextFitsItsControl) {
  openWindow();
  CaptureFilter longest = InitialCaptureFilter();
  longest.includeUdp = 1;
  longest.addressMode = 1;
  for (int i = 0; i < kFilterListLength; ++i) {
    longest.ports[i] = NetworkPort(uint16_t(65526 + i));
    longest.addresses[i] =
        IpAddress::Ipv4(inet_addr(("203.0.113." + std::to_string(200 + i)).c_str()));
  }
  SendToPacketCapture(&longest);
  QString description = QString::fromStdString(DescribeFilterText(longest));
  EXPECT_EQ(QString(FindControl<QLabel>(pane_, kCaptureFilterTextId)->text()).remove(u'\n'),
            description.remove(QLatin1String("\r\n")));

  const auto check = [](const QWidget* window) {
    for (const QLabel* label : window->findChildren<QLabel*>()) {
      const QRect room = label->contentsRect();
      const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
      const QRect needed = label->fontMetrics().boundingRect(room, flags, label->text());
      EXPECT_TRUE(needed.width() <= room.width() && needed.height() <= room.height())
          << label->text().toStdString();
    }
    for (const QCheckBox* box : window->findChildren<QCheckBox*>()) {
      EXPECT_LE(box->sizeHint().width(), box->width()) << box->text().toStdString();
    }
  };
  check(pane_);
  withFilterDialog([&](QDialog& d) { check(&d); });
}

// The pane never waits for its host on the UI thread: the address list fills when it comes, and
// Stop ends a capture whose opening the host holds up. The frames of a batch are each judged,
// numbered and shown, and the host's counts end the run.
TEST_F(CapturePaneTest, TheHostIsNeverWaitedForAndItsBatchesAreShownWhole) {
  ScriptedCaptureHost host;
  for (const auto& [protocol, payload] :
       {std::pair{6, "one"}, std::pair{17, "not shown"}, std::pair{6, "two"}, std::pair{6, "3"}}) {
    PacketFields fields;
    fields.protocol = uint8_t(protocol);
    fields.payload = payload;
    host.frames_.push_back(BuildIpPacket(fields));
  }
  auto pane = std::make_unique<CapturePane>(nullptr, host);
  CurrentCaptureFilter() = InitialCaptureFilter();
  auto* box = FindControl<QComboBox>(pane.get(), kCaptureInterfaceId);
  EXPECT_TRUE(pane->fillingAddresses());
  EXPECT_EQ(box->count(), 0);
  host.releaseAddresses();
  ASSERT_TRUE(WaitUntil([&] { return !pane->fillingAddresses(); }));
  EXPECT_EQ(box->currentText(), "198.51.100.7");

  ClickControl(pane.get(), kCaptureStartId);
  EXPECT_TRUE(WaitUntil([&] { return host.asked_ == "198.51.100.7"; }));
  EXPECT_EQ(ReadControlText(pane.get(), kCaptureStartId), "Stop");
  ClickControl(pane.get(), kCaptureStartId);
  EXPECT_TRUE(WaitUntil([&] { return !pane->running(); }));
  EXPECT_EQ(boxes_.count(), 0u);

  host.releaseCapture();
  ClickControl(pane.get(), kCaptureStartId);
  std::string expected;
  auto record = std::make_unique<CapturedPacket>();
  int number = 0;
  for (const auto& frame : host.frames_) {
    ASSERT_TRUE(DecodeFrame(kLinkRaw, frame.data(), frame.size(), record.get()));
    if (record->isTcp) expected += FormatCapturedPacket(++number, *record, kDisplayAllData, true);
  }
  EXPECT_TRUE(WaitUntil([&] { return GetOutputText(pane.get(), kOutputPaneId) == expected; }))
      << GetOutputText(pane.get(), kOutputPaneId);
  ClickControl(pane.get(), kCaptureStartId);
  ASSERT_TRUE(WaitUntil([&] { return !pane->running(); }));
  EXPECT_EQ(GetOutputText(pane.get(), kOutputPaneId),
            expected + "\r\n#>[Packets Lost: 2 Dropped By The Kernel]\r\n");
  EXPECT_EQ(pane->lastRunCounts().received, 5u);
  EXPECT_EQ(boxes_.count(), 0u);
}
