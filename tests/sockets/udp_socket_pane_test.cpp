#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <memory>
#include <regex>
#include <string>

#include "host/host.h"
#include "pane_driver.h"
#include "recording_presenter.h"
#include "shell/payload_display.h"
#include "shell/ui_thread.h"
#include "socket_peer.h"
#include "sockets/udp_socket_pane.h"

namespace {

class UdpPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUiShuttingDown(false);
    pane = std::make_unique<UdpSocketPane>(nullptr, WindowHost().sockets());
    ASSERT_TRUE(WaitUntil([&] { return !pane->fillingAddresses(); }));  // off the UI thread
    pane->show();
  }
  void TearDown() override {
    if (pane->running()) pane->command(kUdpCloseId);
    EXPECT_TRUE(WaitUntil([&] { return !pane->running(); }));
  }

  // Starts on the address (127.0.0.1 unless given) with the given local port text; the port the
  // socket got, or 0.
  uint16_t start(const std::string& port, const char* address = "127.0.0.1") {
    SelectAddress(pane.get(), kUdpLocalAddressId, address);
    SetText(pane.get(), kUdpLocalPortId, port);
    ClickControl(pane.get(), kUdpStartId);
    WaitUntil([&] {
      return Output(pane.get()).find(")...]\r\n") != std::string::npos || !pane->running();
    });
    std::smatch m;
    const std::string out = Output(pane.get());
    const std::regex active(R"(#>\[UDP Socket Active \(Port:(\d+)\)\.\.\.\]\r\n)");
    return std::regex_search(out, m, active) ? uint16_t(std::stoi(m[1])) : 0;
  }
  bool waitIdle() {
    return WaitUntil([&] { return !pane->running(); });
  }
  void expectState(bool active) {
    for (int id : {kUdpStartId, kUdpLocalAddressId, kUdpLocalPortId, kDisplaySelectorId}) {
      EXPECT_EQ(Enabled(pane.get(), id), !active) << id;
    }
    for (int id : {kUdpSendId, kUdpCloseId}) EXPECT_EQ(Enabled(pane.get(), id), active) << id;
    for (int id : {kUdpRemoteHostId, kUdpRemotePortId, kEchoLocalId}) {
      EXPECT_TRUE(Enabled(pane.get(), id)) << id;
    }
  }

  RecordingPresenter boxes;
  std::unique_ptr<UdpSocketPane> pane;
};

}  // namespace

TEST_F(UdpPaneTest, DatagramsBothWaysEachWithItsSender) {
  expectState(false);
  const uint16_t port = start("0");
  ASSERT_NE(port, 0);
  // The system's choice is written back into the field.
  EXPECT_TRUE(WaitUntil([&] {
    return FindControl<QLineEdit>(pane.get(), kUdpLocalPortId)->text().toStdString() ==
           std::to_string(port);
  }));
  expectState(true);

  const uint16_t peerPort = FreeUdpPort();
  const std::string from = "#>Packet From [127.0.0.1:" + std::to_string(peerPort) + "]\r\n";
  SocatPeer peer({"-", "UDP-DATAGRAM:127.0.0.1:" + std::to_string(port) +
                           ",bind=127.0.0.1:" + std::to_string(peerPort)});
  ASSERT_TRUE(WaitForUdpSocket(peerPort));
  std::string expected = "#>[UDP Socket Active (Port:" + std::to_string(port) + ")...]\r\n";
  const auto receive = [&](const std::string& datagram) {
    peer.write(datagram);
    expected += from + datagram + "\r\n";
    ASSERT_TRUE(WaitUntil([&] { return Output(pane.get()) == expected; })) << datagram.size();
  };
  receive("one");
  receive("one");                   // the same sender again gets its own line
  receive(std::string(2000, 'w'));  // the largest datagram is shown whole

  // Longer ones and empty ones show nothing, and the socket stays.
  uint16_t senderPort = 0;
  const int sender = LoopbackUdpSocket(&senderPort);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port);
  const std::string longer(2001, 'l');
  for (const std::string& datagram : {longer, std::string()}) {
    ASSERT_EQ(sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to),
              ssize_t(datagram.size()));
  }
  close(sender);
  receive("after them");

  // Sending: the remote address is resolved at each send and kept in the history once.
  SetText(pane.get(), kUdpRemotePortId, std::to_string(peerPort));
  FindControl<QCheckBox>(pane.get(), kEchoLocalId)->setChecked(true);
  for (const char* host : {"localhost", "LOCALHOST"}) {
    SetText(pane.get(), kUdpRemoteHostId, host);
    EXPECT_TRUE(WithSendDialog(pane.get(), [](SendDialog& d) {
      TypeSendText(d, "pong");
      ClickControl(&d, kSendOkId);
    }));
    expected += "#>[ECHO]pong\r\n";
  }
  ASSERT_TRUE(peer.waitForOutput(8));
  EXPECT_EQ(peer.output(), "pongpong");
  auto* history = FindControl<QComboBox>(pane.get(), kUdpRemoteHostId);
  ASSERT_EQ(history->count(), 1);
  EXPECT_EQ(history->itemText(0), "localhost");

  ClickControl(pane.get(), kUdpCloseId);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(Output(pane.get()), expected + "#>[Socket Closed]\r\n");
  expectState(false);
  EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(UdpPaneTest, Ipv6DatagramsBothWaysWithTheSenderInBrackets) {
  SHOW_OWN_HOSTS();
  const uint16_t port = start("0", "::1");
  ASSERT_NE(port, 0);
  const uint16_t peerPort = FreeUdpPort();
  SocatPeer peer({"-", "UDP6-DATAGRAM:[::1]:" + std::to_string(port) +
                           ",bind=[::1]:" + std::to_string(peerPort)});
  ASSERT_TRUE(WaitForUdp6Socket(peerPort));
  peer.write("one");
  const std::string expected = "#>[UDP Socket Active (Port:" + std::to_string(port) +
                               ")...]\r\n#>Packet From [[::1]:" + std::to_string(peerPort) +
                               "]\r\none\r\n";
  ASSERT_TRUE(WaitUntil([&] { return Output(pane.get()) == expected; })) << Output(pane.get());

  // To a name with an IPv6 address alone.
  SetText(pane.get(), kUdpRemoteHostId, "v6only.test");
  SetText(pane.get(), kUdpRemotePortId, std::to_string(peerPort));
  EXPECT_TRUE(WithSendDialog(pane.get(), [](SendDialog& d) {
    TypeSendText(d, "pong");
    ClickControl(&d, kSendOkId);
  }));
  ASSERT_TRUE(peer.waitForOutput(4));
  EXPECT_EQ(peer.output(), "pong");
  ClickControl(pane.get(), kUdpCloseId);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(Output(pane.get()), expected + "#>[Socket Closed]\r\n");
  EXPECT_EQ(boxes.count(), 0u);
}

// Send... to a name whose lookup is slow: the window goes on serving its events meanwhile (the
// test's name server answers from a timer of the UI thread), and the datagram goes once the
// answer has come.
TEST_F(UdpPaneTest, ASendWaitingForItsNameLeavesTheWindowServing) {
  if (!IsRoot()) GTEST_SKIP() << "port 53 and a private /etc/resolv.conf need root";
  ASSERT_NE(start("0"), 0);  // first: the worker must not share the resolver's view of the files
  HeldNameServer names;
  ASSERT_TRUE(names.ready());
  uint16_t peerPort = 0;
  const int peer = LoopbackUdpSocket(&peerPort);
  SetText(pane.get(), kUdpRemoteHostId, "held.example");
  SetText(pane.get(), kUdpRemotePortId, std::to_string(peerPort));
  // Cancel while the name is looked up ends the dialog at once; the late answer sends nothing.
  EXPECT_TRUE(WithSendDialog(pane.get(), [&](SendDialog& d) {
    TypeSendText(d, "cancelled");
    ClickControl(&d, kSendOkId);
    ASSERT_TRUE(WaitUntil([&] { return names.questionsCame(2); }));
    ClickControl(&d, kSendCancelId);
    EXPECT_FALSE(d.isVisible());
  }));
  names.answerAll();
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    if (names.questionsCame(2)) names.answerAll();
  });
  answerer.start(10);
  EXPECT_TRUE(WithSendDialog(pane.get(), [](SendDialog& d) {
    TypeSendText(d, "held");
    ClickControl(&d, kSendOkId);
  }));
  char datagram[16] = {};
  ASSERT_TRUE(WaitUntil([&] { return recv(peer, datagram, sizeof datagram, MSG_DONTWAIT) == 4; }));
  EXPECT_EQ(std::string(datagram), "held");
  EXPECT_EQ(boxes.count(), 0u);
  close(peer);
}

TEST_F(UdpPaneTest, APortInUseOrNoLocalAddressEndsTheRun) {
  uint16_t taken = 0;
  const int holder = LoopbackUdpSocket(&taken);
  start(std::to_string(taken));
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(Output(pane.get()), "#>[Socket Closed]\r\n");
  ASSERT_EQ(boxes.texts(), std::vector<std::string>{
                               "Failed To Bind Socket!\n\nMake sure port is not already in use."});
  EXPECT_EQ(boxes.boxes()[0].owner, pane.get());
  close(holder);

  boxes.clear();
  SetControlText(pane.get(), kOutputPaneId, QString());
  FindControl<QComboBox>(pane.get(), kUdpLocalAddressId)->clear();
  ClickControl(pane.get(), kUdpStartId);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(Output(pane.get()), "#>[Socket Closed]\r\n");
  EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(UdpPaneTest, SendFailuresEndTheDialogWithTheirMessage) {
  ASSERT_NE(start("0"), 0);
  uint16_t peerPort = 0;
  const int peer = LoopbackUdpSocket(&peerPort);

  SetText(pane.get(), kUdpRemoteHostId, "127.0.0.1");
  SetText(pane.get(), kUdpRemotePortId, "");
  EXPECT_TRUE(WithSendDialog(pane.get(), [](SendDialog& d) {
    TypeSendText(d, "never sent");
    ClickControl(&d, kSendOkId);
  }));
  ASSERT_EQ(boxes.texts(), std::vector<std::string>{"Invalid Port!"});
  EXPECT_NE(boxes.boxes()[0].owner, pane.get());  // the dialog owns it

  boxes.clear();
  SetText(pane.get(), kUdpRemoteHostId, std::string(129, 'n'));  // refused without a lookup
  SetText(pane.get(), kUdpRemotePortId, std::to_string(peerPort));
  EXPECT_TRUE(WithSendDialog(pane.get(), [](SendDialog& d) {
    TypeSendText(d, "never sent");
    ClickControl(&d, kSendOkId);
  }));
  EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Failed To Resolve Host Name!"});

  // Hex text without a digit pair keeps the dialog open with its text.
  boxes.clear();
  SetText(pane.get(), kUdpRemoteHostId, "127.0.0.1");
  EXPECT_FALSE(WithSendDialog(pane.get(), [](SendDialog& d) {
    TypeSendText(d, "hello", true);
    ClickControl(&d, kSendOkId);
    EXPECT_EQ(d.text(), "hello");
  }));
  EXPECT_EQ(boxes.texts(), std::vector<std::string>{"No Binary Data To Send!"});

  // An empty text is one datagram of no bytes, echoed as a line end alone.
  FindControl<QCheckBox>(pane.get(), kEchoLocalId)->setChecked(true);
  SetControlText(pane.get(), kOutputPaneId, QString());
  EXPECT_TRUE(WithSendDialog(pane.get(), [](SendDialog& d) { ClickControl(&d, kSendOkId); }));
  EXPECT_EQ(Output(pane.get()), "#>[ECHO]\r\n");
  char buffer[16];
  pollfd arrived{peer, POLLIN, 0};  // a send through an agent arrives after the dialog ends
  poll(&arrived, 1, 2000);
  EXPECT_EQ(recv(peer, buffer, sizeof buffer, MSG_DONTWAIT), 0);   // the empty one
  EXPECT_EQ(recv(peer, buffer, sizeof buffer, MSG_DONTWAIT), -1);  // and nothing else
  close(peer);
}

TEST_F(UdpPaneTest, ACloseRightAfterStartEndsTheRun) {
  SelectLoopback(pane.get(), kUdpLocalAddressId);
  SetText(pane.get(), kUdpLocalPortId, "0");
  ClickControl(pane.get(), kUdpStartId);
  ClickControl(pane.get(), kUdpCloseId);  // before the worker can have made its socket
  ASSERT_TRUE(WaitUntil([&] { return !pane->running(); }));
  const std::regex expected(
      R"(#>\[UDP Socket Active \(Port:\d+\)\.\.\.\]\r\n#>\[Socket Closed\]\r\n)");
  EXPECT_TRUE(std::regex_match(Output(pane.get()), expected)) << Output(pane.get());
}
