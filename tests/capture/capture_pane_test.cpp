// The Packet Capture pane driven by control id, capturing real traffic in network namespaces
// of the test's own (the namespace lab of the ping tests), beside tcpdump.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "capture/capture_filter_dialog.h"
#include "capture/capture_pane.h"
#include "capture/filter_rules.h"
#include "net_lab.h"
#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/module_table.h"
#include "shell/output.h"
#include "shell/payload_display.h"
#include "shell/payload_format.h"
#include "shell/ui_thread.h"
#include "test_util.h"

namespace {

sockaddr_in Endpoint(const char* address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr(address);
  a.sin_port = htons(port);
  return a;
}

// A socket of the test's own bound to the address and port (0: the system picks).
int Bound(int type, const char* address, uint16_t port) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = Endpoint(address, port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  if (type == SOCK_STREAM) listen(fd, 4);
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  return ntohs(a.sin_port);
}

// A connected TCP pair: `client` from `from`, `server` accepted on the listener.
struct TcpPair {
  int client = -1;
  int server = -1;
  TcpPair(int listener, const char* from, const char* to, uint16_t port) {
    client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local = Endpoint(from, 0);
    bind(client, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in remote = Endpoint(to, port);
    if (connect(client, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0) {
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
  sockaddr_in remote = Endpoint(to, port);
  sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
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
      "PACKET (\\d+)\r\nProtocol: (TCP|UDP)\r\nSource: ([0-9.:]+)\r\n"
      "Destination: ([0-9.:]+)\r\nBytes: (\\d+)\r\n((?:[0-9a-f]{2}[ \r\n]*)*)");
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

std::string Endpoint(uint32_t address, uint16_t port) {
  in_addr a{address};
  return std::string(inet_ntoa(a)) + ":" + std::to_string(ntohs(port));
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

class CapturePaneTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUiShuttingDown(false); }
  void TearDown() override {
    if (pane_ != nullptr && pane_->running()) ClickControl(pane_, kCaptureStartId);
    if (pane_ != nullptr) {
      EXPECT_TRUE(WaitUntil([&] { return !pane_->running(); }));
    }
    window_.reset();
    client_.reset();
    lab_.reset();
  }

  void openWindow() {
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    pane_ = dynamic_cast<CapturePane*>(window_->pane(kCaptureButton));
    ASSERT_NE(pane_, nullptr);
    CurrentCaptureFilter() = InitialCaptureFilter();
    pane_->DescribeFilter();
  }
  // The lab, with this thread (and so the pane's workers) in the client namespace.
  void openLab() {
    lab_ = std::make_unique<NetLab>();
    ASSERT_TRUE(lab_->ok()) << lab_->error();
    client_ = std::make_unique<NetnsScope>(lab_->name(NetLab::kClient));
    ASSERT_TRUE(client_->entered());
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
// payload bytes, and none is missing. Then the interface goes away under the capture.
TEST_F(CapturePaneTest, ShowsWhatTcpdumpSawPacketForPacket) {
  REQUIRE_ROOT();
  ASSERT_NO_FATAL_FAILURE(openLab());
  CaptureFilter filter = InitialCaptureFilter();
  filter.includeUdp = 1;
  filter.ports[1] = NetworkPort(5353);
  SendToPacketCapture(&filter);
  choose("198.18.1.2", kDisplayHexOnly);

  TempDir dir;
  const std::string dump = dir.file("seen.pcap");
  // Each packet at once, into a ring large enough for whole veth packets.
  ChildProcess tcpdump(
      {"tcpdump", "-i", "e1", "-U", "--immediate-mode", "-B", "32768", "-w", dump});
  ASSERT_TRUE(WaitUntil([&] {
    struct stat s {};
    return stat(dump.c_str(), &s) == 0;
  })) << "tcpdump did not start";
  start();

  // The far end lives in the first router's namespace.
  int listener = -1, farUdp = -1;
  {
    NetnsScope router(lab_->name(NetLab::kRouter1));
    listener = Bound(SOCK_STREAM, kLabRouter1, 80);
    farUdp = Bound(SOCK_DGRAM, kLabRouter1, 5353);
  }
  ASSERT_GE(listener, 0);
  const int udp = Bound(SOCK_DGRAM, "198.18.1.2", 0);
  {
    TcpPair pair(listener, "198.18.1.2", kLabRouter1, 80);
    ASSERT_GE(pair.server, 0);
    for (int i = 0; i < 20; ++i) {
      const std::string data(size_t(1 + i * 70), char('a' + i));
      ASSERT_EQ(send(i % 2 ? pair.client : pair.server, data.data(), data.size(), 0),
                ssize_t(data.size()));
      SendUdp(udp, kLabRouter1, 5353, "query " + std::to_string(i));
      SendUdp(udp, kLabRouter1, 5354, "not shown");
      SendUdp(farUdp, "198.18.1.2", LocalPort(udp), std::string(size_t(i * 60), 'r'));
    }
    // Every TCP byte has crossed the link once both ends have read it all.
    ASSERT_TRUE(ReceiveAll(pair.server, 7010) && ReceiveAll(pair.client, 6310));
  }
  // The last packet (within the link's MTU): once the pane and tcpdump have it, they have
  // everything before it.
  SendUdp(farUdp, "198.18.1.2", LocalPort(udp), std::string(1234, 'z'));
  const auto hasLast = [](const std::vector<ShownPacket>& packets) {
    return std::any_of(packets.begin(), packets.end(),
                       [](const ShownPacket& p) { return p.payload == std::string(1234, 'z'); });
  };
  ASSERT_TRUE(WaitUntil([&] { return output().find("Bytes: 1234\r\n") != std::string::npos; }));
  ASSERT_TRUE(WaitUntil([&] {
    struct stat s {};
    return stat(dump.c_str(), &s) == 0 && s.st_size > 24 && hasLast(ExpectedFromDump(dump, filter));
  }));
  tcpdump.stop();
  stopAndWait();

  int first = 0;
  const std::vector<ShownPacket> shown = ParseShown(output(), &first);
  const std::vector<ShownPacket> seen = ExpectedFromDump(dump, filter);
  EXPECT_EQ(first, 1);
  EXPECT_GE(seen.size(), 40u);  // the exchange got through; TCP may merge some sends
  ASSERT_EQ(shown.size(), seen.size());
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(shown[i], seen[i]) << "packet " << i;

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
  close(listener);
  close(farUdp);
  close(udp);
}

TEST_F(CapturePaneTest, WithoutPrivilegeOrInterfaceTheRunEndsAtOnce) {
  openWindow();
  choose("127.0.0.1", kDisplayAllData);
  {
    WithoutHelper unprivileged;
    start();
    ASSERT_TRUE(WaitUntil([&] { return !pane_->running(); }));
  }
  EXPECT_EQ(boxes_.texts(),
            std::vector<std::string>{"Failed To Create Packet Capturing Socket:  Code: 1"});
  EXPECT_EQ(boxes_.boxes()[0].owner, pane_);

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
    for (const char* addresses : {"10.0.0.1,0.0.0.0", "10.0.0.1,,10.0.0.2"}) {
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
    longest.addresses[i] = inet_addr(("203.0.113." + std::to_string(200 + i)).c_str());
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
