#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "app/connect_dialog.h"
#include "base/payload_format.h"
#include "host/host.h"
#include "pane_driver.h"
#include "recording_presenter.h"
#include "shell/payload_display.h"
#include "shell/ui_thread.h"
#include "socket_peer.h"
#include "sockets/tcp_socket_pane.h"
#include "test_dns_server.h"

namespace {

const int kIdleEnabled[] = {kTcpConnectId, kTcpListenId,        kTcpHostId,
                            kTcpPortId,    kTcpListenAddressId, kDisplaySelectorId};

class TcpPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUiShuttingDown(false);
    pane = std::make_unique<TcpSocketPane>(nullptr, WindowHost().sockets());
    ASSERT_TRUE(WaitUntil([&] { return !pane->fillingAddresses(); }));  // off the UI thread
    pane->show();
  }
  void TearDown() override {
    if (pane) {
      if (pane->running()) pane->command(kTcpCloseId);
      EXPECT_TRUE(WaitUntil([&] { return !pane->running(); }));
    }
  }

  void connectTo(const std::string& host, uint16_t port) {
    SetText(pane.get(), kTcpHostId, host);
    SetText(pane.get(), kTcpPortId, std::to_string(port));
    ClickControl(pane.get(), kTcpConnectId);
  }
  bool waitIdle() {
    return WaitUntil([&] { return !pane->running(); });
  }
  // Every control as the state table has it: idle, or running with Send... as given.
  void expectState(bool running, bool sendEnabled) {
    for (int id : kIdleEnabled) EXPECT_EQ(Enabled(pane.get(), id), !running) << id;
    EXPECT_EQ(Enabled(pane.get(), kTcpCloseId), running);
    EXPECT_EQ(Enabled(pane.get(), kTcpSendId), sendEnabled);
    EXPECT_TRUE(Enabled(pane.get(), kEchoLocalId));
  }

  RecordingPresenter boxes;
  std::unique_ptr<TcpSocketPane> pane;
};

std::string Listener(uint16_t port) {
  return "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr";
}

}  // namespace

TEST_F(TcpPaneTest, StartsIdleWithTextOnlyAndTheLocalAddresses) {
  expectState(false, false);
  EXPECT_EQ(DisplayModeFromSelection(pane.get(), kDisplaySelectorId), kDisplayTextOnly);
  auto* addresses = FindControl<QComboBox>(pane.get(), kTcpListenAddressId);
  EXPECT_EQ(addresses->currentIndex(), 0);
  std::vector<std::string> listed;  // loopback's last in each family, IPv6 after IPv4
  for (int i = 0; i < addresses->count(); ++i)
    listed.push_back(addresses->itemText(i).toStdString());
  EXPECT_EQ(listed, LocalAddressListAsIpListsIt());
  EXPECT_FALSE(FindControl<QCheckBox>(pane.get(), kEchoLocalId)->isChecked());
}

// A host with a thousand addresses: the list holds them all, in the order `ip` shows them. Their
// interfaces are made in one order and given addresses in the other, and some are down; every
// fiftieth has an IPv6 address too.
TEST(LocalAddressBox, ListsEveryAddressOfAHostWithAThousand) {
  if (!IsRoot()) GTEST_SKIP() << "needs root for a network namespace";
  if (ThroughAgent()) GTEST_SKIP() << "the agent's host is not in the test's network namespace";
  FreshNetworkNamespace lab;
  ASSERT_TRUE(lab.entered());
  TempDir dir;
  std::string batch = "link set lo up\n";
  for (int i = 1; i <= 1000; ++i) batch += "link add v" + std::to_string(i) + " type veth\n";
  for (int i = 1000; i >= 1; --i) {
    const std::string v = "v" + std::to_string(i);
    batch += "addr add 198.18." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) +
             "/32 dev " + v + "\n";
    if (i % 50 == 0) batch += "addr add 2001:2::" + std::to_string(i) + "/128 dev " + v + "\n";
    if (i % 97 != 0) batch += "link set " + v + " up\n";
  }
  {
    std::ofstream file(dir.file("batch"));
    file << batch;
  }
  ASSERT_TRUE(lab.run("ip -batch " + dir.file("batch")));
  const std::vector<std::string> expected = LocalAddressListAsIpListsIt();
  ASSERT_EQ(expected.size(), 1000u - 1000 / 97 + 1 + 1000 / 50 + 1);

  TcpSocketPane pane(nullptr, WindowHost().sockets());
  ASSERT_TRUE(WaitUntil([&] { return !pane.fillingAddresses(); }));
  auto* box = FindControl<QComboBox>(&pane, kTcpListenAddressId);
  std::vector<std::string> listed;
  for (int i = 0; i < box->count(); ++i) listed.push_back(box->itemText(i).toStdString());
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(box->currentIndex(), 0);
}

TEST_F(TcpPaneTest, ConnectsAndExchangesTextBothWays) {
  const uint16_t port = FreeTcpPort();
  SocatPeer peer({Listener(port), "-"});
  ASSERT_TRUE(WaitForTcpListener(port));
  connectTo("127.0.0.1", port);
  ASSERT_TRUE(WaitForOutput(pane.get(), "#>[Connected]\r\n"));
  ASSERT_TRUE(WaitUntil([&] { return Enabled(pane.get(), kTcpSendId); }));
  expectState(true, true);

  pane->hide();  // a hidden pane goes on showing what arrives
  peer.write("hello\n");
  ASSERT_TRUE(WaitForOutput(pane.get(), "hello"));
  pane->show();

  FindControl<QCheckBox>(pane.get(), kEchoLocalId)->setChecked(true);
  EXPECT_TRUE(WithSendDialog(pane.get(), [](SendDialog& d) {
    TypeSendText(d, "ping\nline2");
    ClickControl(&d, kSendOkId);
  }));
  ASSERT_TRUE(peer.waitForOutput(11));
  EXPECT_EQ(peer.output(), "ping\r\nline2");

  peer.closeInput();  // socat shuts its side down
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(Output(pane.get()),
            "#>[Connecting To (127.0.0.1)...]\r\n#>[Connected]\r\nhello\n\r\n"
            "#>[ECHO]ping\r\nline2\r\n#>[Connection Closed]\r\n");
  expectState(false, false);
  EXPECT_EQ(boxes.count(), 0u);
}

// A host reached with ssh that goes away mid-connection: the run ends as a failed socket ends
// it, and the window says why and offers to connect again, in a window of its own.
TEST_F(TcpPaneTest, ALostSshConnectionEndsTheRunAndOffersToConnectAgain) {
  if (!ThroughSsh()) GTEST_SKIP() << "a window on a host reached with ssh";
  const uint16_t port = FreeTcpPort();
  SocatPeer peer({Listener(port), "-"});
  ASSERT_TRUE(WaitForTcpListener(port));
  connectTo("127.0.0.1", port);
  ASSERT_TRUE(WaitForOutput(pane.get(), "#>[Connected]\r\n"));
  std::vector<QString> started;
  SetHostWindowStarter([&](const QString& destination) {
    started.push_back(destination);
    return true;
  });
  KillSshSessions();
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(Output(pane.get()),
            "#>[Connecting To (127.0.0.1)...]\r\n#>[Connected]\r\n#>[Connection Closed]\r\n");
  ASSERT_TRUE(WaitUntil([&] { return boxes.count() == 1; }, 10000));
  const std::string offer = boxes.texts()[0];
  EXPECT_TRUE(offer.starts_with("The connection to 127.0.0.1:")) << offer;
  EXPECT_TRUE(offer.ends_with(" again?")) << offer;
  ASSERT_EQ(started.size(), 1u);  // answered Yes
  EXPECT_TRUE(started[0].startsWith("127.0.0.1:"));
  SetHostWindowStarter({});
  // The tests after this one get a host of their own again.
  pane.reset();
  ASSERT_TRUE(UseBuiltAgent());
}

TEST_F(TcpPaneTest, HexModesShowBytesAndSendHexText) {
  FindControl<QComboBox>(pane.get(), kDisplaySelectorId)->setCurrentIndex(0);  // All Data
  const uint16_t port = FreeTcpPort();
  SocatPeer peer({Listener(port), "-"});
  ASSERT_TRUE(WaitForTcpListener(port));
  connectTo("127.0.0.1", port);
  ASSERT_TRUE(WaitUntil([&] { return Enabled(pane.get(), kTcpSendId); }));

  const std::string bytes("\x00\x41\x0a\xff z\x7f", 7);
  peer.write(bytes);
  const std::string shown =
      FormatPayload(kDisplayAllData, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  ASSERT_TRUE(WaitForOutput(pane.get(), shown));

  EXPECT_TRUE(WithSendDialog(pane.get(), [](SendDialog& d) {
    TypeSendText(d, "00 20 33", true);
    ClickControl(&d, kSendOkId);
  }));
  ASSERT_TRUE(peer.waitForOutput(3));
  EXPECT_EQ(peer.output(), std::string("\x00\x20\x33", 3));

  ClickControl(pane.get(), kTcpCloseId);  // Close while connected
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(Output(pane.get()), "#>[Connecting To (127.0.0.1)...]\r\n#>[Connected]\r\n" + shown +
                                    "#>[Connection Closed]\r\n");
  EXPECT_EQ(peer.waitExit(), 0);  // the peer saw the connection end
}

TEST_F(TcpPaneTest, ListensAcceptsOneConnectionAndRefusesASecond) {
  const uint16_t port = FreeTcpPort();
  SelectLoopback(pane.get(), kTcpListenAddressId);
  SetText(pane.get(), kTcpPortId, std::to_string(port));
  ClickControl(pane.get(), kTcpListenId);
  ASSERT_TRUE(
      WaitForOutput(pane.get(), "#>[Listening (Port:" + std::to_string(port) + ")...]\r\n"));
  expectState(true, false);

  SocatPeer first({"-", "TCP:127.0.0.1:" + std::to_string(port)});
  ASSERT_TRUE(WaitForOutput(pane.get(), "#>[Connection From: 127.0.0.1:"));
  ASSERT_TRUE(WaitUntil([&] { return Enabled(pane.get(), kTcpSendId); }));
  first.write("from the client\n");
  ASSERT_TRUE(WaitForOutput(pane.get(), "from the client\n\r\n"));

  SocatPeer second({"-", "TCP:127.0.0.1:" + std::to_string(port)});
  EXPECT_NE(second.waitExit(), 0);  // refused: nobody listens any more

  EXPECT_TRUE(WithSendDialog(pane.get(), [](SendDialog& d) {
    TypeSendText(d, "from the pane");
    ClickControl(&d, kSendOkId);
  }));
  ASSERT_TRUE(first.waitForOutput(13));
  EXPECT_EQ(first.output(), "from the pane");

  ClickControl(pane.get(), kTcpCloseId);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(first.waitExit(), 0);
  const std::regex expected(
      R"(#>\[Listening \(Port:\d+\)\.\.\.\]\r\n#>\[Connection From: 127\.0\.0\.1:(\d+)\]\r\n)"
      R"(from the client\n\r\n#>\[Connection Closed\]\r\n)");
  std::smatch m;
  const std::string out = Output(pane.get());
  ASSERT_TRUE(std::regex_match(out, m, expected)) << out;
  EXPECT_GT(std::stoi(m[1]), 0);
}

// Over IPv6: to a name with an IPv6 address alone, from a listener on ::1 with the peer shown
// with its port in brackets, and to a dual-stack peer over IPv4.
TEST_F(TcpPaneTest, Ipv6PeersAndADualStackOne) {
  uint16_t port = FreeTcpPort();
  {
    SHOW_OWN_HOSTS();
    SocatPeer peer({"TCP6-LISTEN:" + std::to_string(port) + ",bind=[::1],reuseaddr", "-"});
    ASSERT_TRUE(WaitForTcp6Listener(port));
    connectTo("v6only.test", port);
    ASSERT_TRUE(WaitUntil([&] { return Enabled(pane.get(), kTcpSendId); }));
    peer.write("hello\n");
    ASSERT_TRUE(WaitForOutput(pane.get(), "hello"));
    EXPECT_TRUE(WithSendDialog(pane.get(), [](SendDialog& d) {
      TypeSendText(d, "ping");
      ClickControl(&d, kSendOkId);
    }));
    ASSERT_TRUE(peer.waitForOutput(4));
    EXPECT_EQ(peer.output(), "ping");
    peer.closeInput();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(
        Output(pane.get()),
        "#>[Connecting To (::1)...]\r\n#>[Connected]\r\nhello\n\r\n#>[Connection Closed]\r\n");
  }

  SetControlText(pane.get(), kOutputPaneId, QString());
  SelectAddress(pane.get(), kTcpListenAddressId, "::1");
  SetText(pane.get(), kTcpPortId, std::to_string(port));
  ClickControl(pane.get(), kTcpListenId);
  ASSERT_TRUE(WaitForOutput(pane.get(), ")...]\r\n"));
  const uint16_t clientPort = FreeTcpPort();
  SocatPeer client(
      {"-", "TCP6:[::1]:" + std::to_string(port) + ",sourceport=" + std::to_string(clientPort)});
  ASSERT_TRUE(WaitUntil([&] { return Enabled(pane.get(), kTcpSendId); }));
  client.closeInput();
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(Output(pane.get()), "#>[Listening (Port:" + std::to_string(port) +
                                    ")...]\r\n#>[Connection From: [::1]:" +
                                    std::to_string(clientPort) + "]\r\n#>[Connection Closed]\r\n");

  SetControlText(pane.get(), kOutputPaneId, QString());
  port = FreeTcpPort();
  SocatPeer dualStack({"TCP6-LISTEN:" + std::to_string(port) + ",ipv6only=0,reuseaddr", "-"});
  ASSERT_TRUE(WaitForTcp6Listener(port, true));
  connectTo("127.0.0.1", port);
  ASSERT_TRUE(WaitUntil([&] { return Enabled(pane.get(), kTcpSendId); }));
  dualStack.write("mapped\n");
  ASSERT_TRUE(
      WaitForOutput(pane.get(), "#>[Connecting To (127.0.0.1)...]\r\n#>[Connected]\r\nmapped\n"));
  EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(TcpPaneTest, ARefusedConnectIsReportedInThePane) {
  connectTo("127.0.0.1", FreeTcpPort());
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(Output(pane.get()),
            "#>[Connecting To (127.0.0.1)...]\r\n#>[ERROR: FD_CONNECT]\r\n"
            "#>[Connection Closed]\r\n");
  EXPECT_EQ(boxes.count(), 0u);
  expectState(false, false);
}

TEST_F(TcpPaneTest, SetUpFailuresShowTheirMessageThenEndTheRun) {
  uint16_t port = 0;
  const int taken = LoopbackListener(&port);  // something listens on this port already
  const std::string takenPort = std::to_string(port);

  struct Case {
    int button;
    std::string host, port;
    const char* message;  // nullptr: no box at all
  };
  const Case cases[] = {
      {kTcpConnectId, "127.0.0.1", "", "Invalid Port!"},
      {kTcpConnectId, "127.0.0.1", "65536", "Invalid Port!"},  // its low 16 bits are 0
      {kTcpListenId, "", "0", "Invalid Port!"},
      {kTcpConnectId, std::string(129, 'h'), "80", "Failed To Resolve Host Name!"},
      {kTcpListenId, "", takenPort, "Failed To Bind Socket!"},
  };
  SelectLoopback(pane.get(), kTcpListenAddressId);
  for (const Case& c : cases) {
    boxes.clear();
    SetControlText(pane.get(), kOutputPaneId, QString());
    SetText(pane.get(), kTcpHostId, c.host);
    SetText(pane.get(), kTcpPortId, c.port);
    ClickControl(pane.get(), c.button);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(Output(pane.get()), "#>[Connection Closed]\r\n") << c.message;
    ASSERT_EQ(boxes.texts(), std::vector<std::string>{c.message});
    EXPECT_EQ(boxes.boxes()[0].owner, pane.get());
    EXPECT_EQ(boxes.boxes()[0].caption, "Pelorin Error!");
  }

  // With no local address to listen on, the run ends without a word.
  boxes.clear();
  SetControlText(pane.get(), kOutputPaneId, QString());
  FindControl<QComboBox>(pane.get(), kTcpListenAddressId)->clear();
  ClickControl(pane.get(), kTcpListenId);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(Output(pane.get()), "#>[Connection Closed]\r\n");
  EXPECT_EQ(boxes.count(), 0u);
  close(taken);
}

TEST_F(TcpPaneTest, HostNamesAreResolvedAndKeptInTheHistoryOnce) {
  uint16_t port = 0;
  const int server = LoopbackListener(&port);  // the system completes connections unaccepted

  for (const char* host : {"localhost", "LocalHost"}) {
    SetControlText(pane.get(), kOutputPaneId, QString());
    connectTo(host, port);
    ASSERT_TRUE(WaitForOutput(pane.get(), "#>[Connected]\r\n"));
    EXPECT_EQ(Output(pane.get()), "#>[Connecting To (127.0.0.1)...]\r\n#>[Connected]\r\n");
    ClickControl(pane.get(), kTcpCloseId);
    ASSERT_TRUE(waitIdle());
  }
  auto* history = FindControl<QComboBox>(pane.get(), kTcpHostId);
  ASSERT_EQ(history->count(), 1);
  EXPECT_EQ(history->itemText(0), "localhost");
  close(server);
}

TEST_F(TcpPaneTest, APaneDestroyedMidRunGetsNoMoreWrites) {
  const uint16_t port = FreeTcpPort();
  SocatPeer peer({"-u", "OPEN:/dev/zero", Listener(port)});
  ASSERT_TRUE(WaitForTcpListener(port));
  connectTo("127.0.0.1", port);
  ASSERT_TRUE(WaitForOutput(pane.get(), "....."));  // the stream is arriving
  pane.reset();
  // The worker ends by itself: the sender sees the connection go.
  EXPECT_NE(peer.waitExit(), -1);
  ServeEvents(100);
}

TEST_F(TcpPaneTest, AFullSendBufferGreysSendUntilTheConnectionCanTakeMore) {
  // A peer with a small window that reads nothing until the test lets it.
  uint16_t port = 0;
  const int listener = LoopbackListener(&port, 4096);
  connectTo("127.0.0.1", port);
  ASSERT_TRUE(WaitUntil([&] { return Enabled(pane.get(), kTcpSendId); }));
  const int peer = accept(listener, nullptr, nullptr);

  // 1000 characters of three bytes each per send, until a send cannot take them all.
  const std::string text = QString(1000, QChar(0x20AC)).toStdString();
  int sends = 0;
  while (Enabled(pane.get(), kTcpSendId) && sends < 2000) {
    WithSendDialog(pane.get(), [&](SendDialog& d) {
      TypeSendText(d, text);
      ClickControl(&d, kSendOkId);
    });
    ++sends;
  }
  ASSERT_FALSE(Enabled(pane.get(), kTcpSendId)) << sends << " sends";
  ServeEvents(100);
  EXPECT_FALSE(Enabled(pane.get(), kTcpSendId));  // stays grey while nothing moves

  std::vector<char> sink(1 << 16);
  EXPECT_TRUE(WaitUntil([&] {
    while (recv(peer, sink.data(), sink.size(), MSG_DONTWAIT) > 0) {
    }
    return Enabled(pane.get(), kTcpSendId);
  }));
  close(peer);
  close(listener);
}

TEST_F(TcpPaneTest, AFloodShowsTheNewestDataInOrderWithinThePaneLimit) {
  uint16_t port = 0;
  const int listener = LoopbackListener(&port);
  connectTo("127.0.0.1", port);
  ASSERT_TRUE(WaitForOutput(pane.get(), "#>[Connected]\r\n"));
  const int peer = accept(listener, nullptr, nullptr);

  // Lines end in LF alone and the pane ends each receive with CR LF, so the data shown is the
  // output without its CR LFs.
  std::string sent;
  for (int i = 0; sent.size() < kOutputPaneLimit * 3 / 2; ++i) {
    sent += std::to_string(i) + " the quick brown fox jumps over the lazy dog\n";
  }
  std::thread sender([&] {
    for (size_t at = 0; at < sent.size();) {
      const ssize_t n = send(peer, sent.data() + at, sent.size() - at, MSG_NOSIGNAL);
      if (n <= 0) break;
      at += size_t(n);
    }
    close(peer);
  });
  const bool ended = WaitUntil([&] { return !pane->running(); }, 60000);
  sender.join();
  ASSERT_TRUE(ended);

  const auto* out = FindControl<QPlainTextEdit>(pane.get(), kOutputPaneId);
  EXPECT_LE(size_t(out->document()->characterCount() - 1), kOutputPaneLimit);
  std::string shown = Output(pane.get());
  const std::string closed = "#>[Connection Closed]\r\n";
  ASSERT_GT(shown.size(), closed.size());
  ASSERT_EQ(shown.substr(shown.size() - closed.size()), closed);  // after all the data
  shown.resize(shown.size() - closed.size());
  std::string data;  // the data has no CR: every CR LF is the pane's
  for (size_t i = 0; i < shown.size(); ++i) {
    if (shown.compare(i, 2, "\r\n") == 0) {
      ++i;
    } else {
      data += shown[i];
    }
  }
  ASSERT_GT(data.size(), kOutputPaneLimit / 2);
  EXPECT_EQ(sent.compare(sent.size() - data.size(), data.size(), data), 0);
  close(listener);
}

TEST_F(TcpPaneTest, AnUrgentByteNeitherEndsTheConnectionNorHidesWhatFollows) {
  uint16_t port = 0;
  const int listener = LoopbackListener(&port);
  connectTo("127.0.0.1", port);
  ASSERT_TRUE(WaitForOutput(pane.get(), "#>[Connected]\r\n"));
  const int peer = accept(listener, nullptr, nullptr);
  ASSERT_EQ(send(peer, "before", 6, 0), 6);
  ASSERT_TRUE(WaitForOutput(pane.get(), "before\r\n"));
  ASSERT_EQ(send(peer, "!", 1, MSG_OOB), 1);
  ASSERT_EQ(send(peer, "after", 5, 0), 5);
  ASSERT_TRUE(WaitForOutput(pane.get(), "after\r\n"));
  EXPECT_TRUE(pane->running());
  close(peer);
  ASSERT_TRUE(waitIdle());
  EXPECT_EQ(Output(pane.get()),
            "#>[Connecting To (127.0.0.1)...]\r\n#>[Connected]\r\nbefore\r\nafter\r\n"
            "#>[Connection Closed]\r\n");
  close(listener);
}

// A Close in the same moment as Connect or Listen, before the worker has made its socket.
TEST_F(TcpPaneTest, ACloseRightAfterTheStartEndsTheRun) {
  uint16_t port = 0;
  const int listener = LoopbackListener(&port);
  SelectLoopback(pane.get(), kTcpListenAddressId);
  for (const int button : {kTcpConnectId, kTcpListenId}) {
    SetControlText(pane.get(), kOutputPaneId, QString());
    SetText(pane.get(), kTcpHostId, "127.0.0.1");
    SetText(pane.get(), kTcpPortId, std::to_string(button == kTcpConnectId ? port : FreeTcpPort()));
    ClickControl(pane.get(), button);
    ClickControl(pane.get(), kTcpCloseId);
    ASSERT_TRUE(WaitUntil([&] { return !pane->running(); })) << button;
    EXPECT_TRUE(Output(pane.get()).ends_with("...]\r\n#>[Connection Closed]\r\n"))
        << Output(pane.get());
  }
  close(listener);
}

// Connects that fail at once for want of a route come as the connect event's error, in a
// network namespace of the test's own: no route at all, and a route of type unreachable.
TEST_F(TcpPaneTest, AnUnreachableConnectIsReportedInThePane) {
  if (!IsRoot()) GTEST_SKIP() << "a network namespace needs root";
  if (ThroughAgent()) GTEST_SKIP() << "the agent's host is not in the test's network namespace";
  FreshNetworkNamespace scope;
  ASSERT_TRUE(scope.entered());
  ASSERT_TRUE(scope.run("ip route add unreachable 198.18.96.0/24"));
  for (const char* host : {"198.18.0.1", "198.18.96.1"}) {
    SetControlText(pane.get(), kOutputPaneId, QString());
    connectTo(host, 80);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(Output(pane.get()),
              "#>[Connecting To (" + std::string(host) +
                  ")...]\r\n#>[ERROR: FD_CONNECT]\r\n#>[Connection Closed]\r\n");
  }
  EXPECT_EQ(boxes.count(), 0u);
}

// The system resolver asks a server of the test's, which holds the question until the test
// answers it: a Close while the name is looked up ends the run at once, and the answer that
// comes afterwards is dropped (no connect, no message).
TEST_F(TcpPaneTest, ACloseDuringTheNameLookupEndsTheRunAtOnce) {
  if (!IsRoot()) GTEST_SKIP() << "port 53 and a private /etc/resolv.conf need root";
  HeldNameServer names;
  ASSERT_TRUE(names.ready());
  uint16_t port = 0;
  const int listener = LoopbackListener(&port);

  connectTo("held.example", port);
  // The resolver asks for the IPv4 and the IPv6 addresses at once.
  ASSERT_TRUE(WaitUntil([&] { return names.questionsCame(2); }));
  EXPECT_TRUE(pane->running());
  ClickControl(pane.get(), kTcpCloseId);
  EXPECT_TRUE(waitIdle());
  EXPECT_EQ(Output(pane.get()), "#>[Connection Closed]\r\n");
  expectState(false, false);

  names.answerAll();  // the IPv4 question with 127.0.0.1
  ServeEvents(500);
  pollfd connection{listener, POLLIN, 0};
  EXPECT_EQ(poll(&connection, 1, 0), 0) << "the dropped lookup connected";
  EXPECT_EQ(Output(pane.get()), "#>[Connection Closed]\r\n");
  EXPECT_EQ(boxes.count(), 0u);
  close(listener);
}
