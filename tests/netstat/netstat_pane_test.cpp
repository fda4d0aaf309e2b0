// The Netstat pane over the real system: the test's own sockets and processes as its rows, the
// filters, sorting, the timer and every command of the row menu.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <thread>

#include "capture/capture_pane.h"
#include "dns/dns_pane.h"
#include "host/host.h"
#include "host/local_netstat.h"
#include "loopback_sockets.h"
#include "netstat/endpoint_model.h"
#include "netstat/file_properties.h"
#include "netstat/netstat_pane.h"
#include "netstat/netstat_service.h"
#include "netstat/proc_text.h"
#include "netstat/process_info.h"
#include "netstat/text_popup.h"
#include "ping/ping_pane.h"
#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/output.h"
#include "shell/output_menu.h"
#include "shell/ui_thread.h"
#include "test_util.h"

namespace {

constexpr const char* kServer = "127.0.12.11";
constexpr const char* kClient = "127.0.12.12";
constexpr const char* kChildAddress = "127.0.12.13";
constexpr const char* kRootAddress = "127.0.12.14";
// Set in the copy of this program that runs as another user.
constexpr const char* kInnerVariable = "PELORIN_NETSTAT_UNPRIVILEGED";

std::string Me() {
  return "netstat_pane_test:" + std::to_string(getpid());
}

bool WaitRefreshed(NetstatPane& pane) {
  return WaitUntil([&] { return !pane.refreshing(); }, 10000);
}

// A command's call to the host is answered off the UI thread.
bool WaitActed(NetstatPane& pane) {
  return WaitUntil([&] { return !pane.acting(); }, 15000);
}

void Refresh(NetstatPane& pane) {
  pane.command(kNetstatRefreshId);
  EXPECT_TRUE(WaitRefreshed(pane));
}

// The first row showing this local and remote endpoint ("*.*" for UDP), or -1.
int RowOf(const NetstatPane& pane, const std::string& local, const std::string& remote) {
  for (int row = 0; row < pane.model()->rowCount(); ++row) {
    const RowCells c = pane.model()->cells(row);
    if (c[kColumnLocal] == local && c[kColumnRemote] == remote) return row;
  }
  return -1;
}

void Select(NetstatPane& pane, int row) {
  pane.list()->selectionModel()->setCurrentIndex(
      pane.model()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

std::string Clipboard() {
  return QGuiApplication::clipboard()->text().toStdString();
}

// Runs `trigger` and returns the caption and text of the popup window it opens, closing it;
// `inspect` first has its way with the open popup.
std::pair<std::string, std::string> CatchPopup(const std::function<void()>& trigger,
                                               const std::function<void(QDialog*)>& inspect = {}) {
  std::pair<std::string, std::string> seen;
  bool caught = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QDialog*>(w);
      if (caught || dialog == nullptr || !dialog->isVisible()) continue;
      if (FindControlWidget(dialog, kPopupTextId) == nullptr) continue;
      if (inspect) inspect(dialog);
      seen = {dialog->windowTitle().toStdString(), GetOutputText(dialog, kPopupTextId)};
      caught = true;
      dialog->reject();
    }
  });
  poll.start(10);
  trigger();
  EXPECT_TRUE(WaitUntil([&] { return caught; }, 15000));
  return seen;
}

class NetstatPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qEnvironmentVariableIsSet(kInnerVariable)) GTEST_SKIP() << "the other user's run";
    SetUiShuttingDown(false);
    SetFileManagerAllowed(false);
    listener_ = Listener(kServer, &port_);
    client_ = Connect(kClient, listener_, kServer, port_, &server_);
    udp_ = UdpSocket("127.0.0.1", &udpPort_);
    ASSERT_TRUE(listener_ >= 0 && client_ >= 0 && server_ >= 0 && udp_ >= 0);
    pane_ = std::make_unique<NetstatPane>(&main_, WindowHost().netstat());
    main_.resize(pane_->size());
    main_.show();
    pane_->show();
    ASSERT_TRUE(WaitRefreshed(*pane_));
  }
  void TearDown() override {
    pane_.reset();
    SetOutputMenuRunner({});
    for (int fd : {listener_, client_, server_, udp_}) {
      if (fd >= 0) close(fd);
    }
  }

  NetstatPane& pane() { return *pane_; }
  std::string server() const { return Endpoint(kServer, port_); }
  std::string client() const { return Endpoint(kClient, LocalPortOf(client_)); }
  std::string udp() const { return Endpoint("127.0.0.1", udpPort_); }
  int listenerRow() { return RowOf(pane(), server(), "0.0.0.0:0"); }
  int clientRow() { return RowOf(pane(), client(), server()); }
  int udpRow() { return RowOf(pane(), udp(), "*.*"); }
  void selectAndRun(int row, int command) {
    ASSERT_GE(row, 0);
    Select(pane(), row);
    pane().command(command);
    EXPECT_TRUE(WaitActed(pane()));
  }

  RecordingPresenter presenter_;
  QWidget main_;
  std::unique_ptr<NetstatPane> pane_;
  int listener_ = -1, client_ = -1, server_ = -1, udp_ = -1;
  uint16_t port_ = 0, udpPort_ = 0;
};

TEST_F(NetstatPaneTest, RowsFiltersSortAndTheKeptRowIndex) {
  const auto cells = [&](int row) { return pane().model()->cells(row); };
  ASSERT_GE(listenerRow(), 0);
  EXPECT_EQ(cells(listenerRow()), (RowCells{Me(), "TCP", server(), "0.0.0.0:0", "LISTENING"}));
  EXPECT_EQ(cells(clientRow()), (RowCells{Me(), "TCP", client(), server(), "ESTABLISHED"}));
  EXPECT_EQ(cells(udpRow()), (RowCells{Me(), "UDP", udp(), "*.*", ""}));
  // At first by process name, Z to A.
  for (int row = 1; row < pane().model()->rowCount(); ++row) {
    const QString above = QString::fromStdString(cells(row - 1)[kColumnProcess]).section(':', 0, 0);
    const QString below = QString::fromStdString(cells(row)[kColumnProcess]).section(':', 0, 0);
    EXPECT_GE(above.compare(below, Qt::CaseInsensitive), 0) << row;
  }

  const auto protocols = [&] {
    std::string seen;
    for (int row = 0; row < pane().model()->rowCount(); ++row) {
      seen += pane().model()->record(row)->protocol == kEndpointUdp ? 'U' : 'T';
    }
    return seen;
  };
  ClickControl(&pane(), kNetstatConnectedId);
  ASSERT_TRUE(WaitRefreshed(pane()));
  for (int row = 0; row < pane().model()->rowCount(); ++row) {
    EXPECT_EQ(pane().model()->cells(row)[kColumnState], "ESTABLISHED");
  }
  EXPECT_GE(clientRow(), 0);
  EXPECT_EQ(listenerRow(), -1);
  ClickControl(&pane(), kNetstatTcpOnlyId);
  ASSERT_TRUE(WaitRefreshed(pane()));
  EXPECT_GE(listenerRow(), 0);
  EXPECT_EQ(protocols().find('U'), std::string::npos);
  ClickControl(&pane(), kNetstatUdpOnlyId);
  ASSERT_TRUE(WaitRefreshed(pane()));
  EXPECT_GE(udpRow(), 0);
  EXPECT_EQ(protocols().find('T'), std::string::npos);
  ClickControl(&pane(), kNetstatShowAllId);
  ASSERT_TRUE(WaitRefreshed(pane()));

  // A click on "Proto" sorts TCP first; the next click turns it round. The selected endpoint
  // moves with its row.
  Select(pane(), udpRow());
  QHeaderView* header = pane().list()->horizontalHeader();
  const QPoint proto(header->sectionViewportPosition(kColumnProto) + 5, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, proto);
  EXPECT_TRUE(std::regex_match(protocols(), std::regex("T+U+")));
  EXPECT_EQ(pane().selectionMark(), udpRow());
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, proto);
  EXPECT_TRUE(std::regex_match(protocols(), std::regex("U+T+")));
  EXPECT_EQ(pane().selectionMark(), udpRow());

  // A refresh keeps the row index, not the endpoint.
  Select(pane(), 1);
  Refresh(pane());
  EXPECT_EQ(pane().selectionMark(), 1);
  EXPECT_TRUE(pane().list()->selectionModel()->isRowSelected(1, {}));
}

// At the first size every column is in view; an address its column cuts short gives its whole
// text as tip and accessible text, and a wider window gives the address columns room for it.
// From the keyboard the columns sort (Ctrl+1 to Ctrl+5 anywhere in the pane) as a click on their
// titles does, and the row menu opens.
TEST_F(NetstatPaneTest, ColumnsInViewWholeAddressesAndTheKeyboard) {
  uint16_t port = 0;
  const int wide = BoundSocket6(SOCK_DGRAM, "::ffff:127.123.123.123", &port, false);
  ASSERT_GE(wide, 0);
  ClickControl(&pane(), kNetstatUdpOnlyId);
  ASSERT_TRUE(WaitRefreshed(pane()));
  const std::string address = Endpoint6("::ffff:127.123.123.123", port);
  const int row = RowOf(pane(), address, "*.*");
  ASSERT_GE(row, 0);
  QTableView* list = pane().list();
  const QAbstractItemView* view = list;  // its own measure of what a column needs
  const QHeaderView* titles = list->horizontalHeader();
  for (int c = 0; c < kEndpointColumns; ++c) {
    EXPECT_GE(titles->sectionViewportPosition(c), 0) << c;
    EXPECT_LE(titles->sectionViewportPosition(c) + titles->sectionSize(c),
              list->viewport()->width())
        << c;
  }
  const QModelIndex cell = pane().model()->index(row, kColumnLocal);
  list->scrollTo(cell);
  ASSERT_LT(list->columnWidth(kColumnLocal), view->sizeHintForColumn(kColumnLocal));
  const QRect shown = list->visualRect(cell);
  QHelpEvent tip(QEvent::ToolTip, shown.center(), list->viewport()->mapToGlobal(shown.center()));
  QApplication::sendEvent(list->viewport(), &tip);
  EXPECT_EQ(QToolTip::text().toStdString(), address);
  QAccessibleInterface* table = QAccessible::queryAccessibleInterface(list);
  ASSERT_NE(table, nullptr);
  QAccessibleInterface* accessibleCell = table->tableInterface()->cellAt(row, kColumnLocal);
  ASSERT_NE(accessibleCell, nullptr);
  EXPECT_EQ(accessibleCell->text(QAccessible::Name).toStdString(), address);
  main_.resize(main_.width() + 400, main_.height());
  pane().resize(main_.size());
  EXPECT_GE(list->columnWidth(kColumnLocal), view->sizeHintForColumn(kColumnLocal));
  EXPECT_GE(list->columnWidth(kColumnRemote), list->columnWidth(kColumnLocal));
  close(wide);

  ClickControl(&pane(), kNetstatShowAllId);
  ASSERT_TRUE(WaitRefreshed(pane()));
  main_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&main_));
  FindControlWidget(&pane(), kNetstatIntervalId)->setFocus();
  const auto protocolsAfter = [&](Qt::Key key) {
    QTest::keyClick(QApplication::focusWidget(), key, Qt::ControlModifier);
    std::string seen;
    for (int row = 0; row < pane().model()->rowCount(); ++row) {
      seen += pane().model()->cells(row)[kColumnProto][0];
    }
    return seen;
  };
  EXPECT_TRUE(std::regex_match(protocolsAfter(Qt::Key_2), std::regex("T+U+")));
  EXPECT_TRUE(std::regex_match(protocolsAfter(Qt::Key_2), std::regex("U+T+")));

  // Shift+F10 opens the row menu where the keyboard has no Menu key.
  int menus = 0;
  SetOutputMenuRunner([&](QMenu&, const QPoint&) { return ++menus, kCmdCopyLine; });
  Select(pane(), udpRow());
  pane().list()->setFocus();
  QTest::keyClick(pane().list(), Qt::Key_F10, Qt::ShiftModifier);
  EXPECT_EQ(menus, 1);
  EXPECT_EQ(Clipboard(), FormatRowLine(pane().model()->cells(udpRow())));
}

// Through the accessibility interface: the filter's toggle action shows its rows, and a row
// selected there is the row the commands act on.
TEST_F(NetstatPaneTest, AccessibleFilterAndRow) {
  const int row = udpRow();
  Select(pane(), row == 0 ? 1 : 0);
  QAccessible::queryAccessibleInterface(pane().list())->tableInterface()->selectRow(row);
  pane().command(kCmdCopyLine);
  EXPECT_EQ(Clipboard(), FormatRowLine(pane().model()->cells(row)));

  QAccessibleInterface* udpOnly =
      QAccessible::queryAccessibleInterface(FindControlWidget(&pane(), kNetstatUdpOnlyId));
  udpOnly->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  ServeEvents(50);
  ASSERT_TRUE(WaitRefreshed(pane()));
  EXPECT_EQ(pane().model()->cells(0)[kColumnProto], "UDP");
  EXPECT_EQ(listenerRow(), -1);
}

// No descriptor left for the netlink socket: the refresh fails, and the rows shown stay with
// the snapshot they come from.
TEST_F(NetstatPaneTest, AFailedRefreshKeepsTheRows) {
  Select(pane(), udpRow());
  std::vector<RowCells> before;
  for (int row = 0; row < pane().model()->rowCount(); ++row) {
    before.push_back(pane().model()->cells(row));
  }
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const rlimit saved = limit;
  std::vector<int> taken;
  pid_t agent = 0;
  if (ThroughAgent()) {
    // The tables are read on the agent's side: its limit goes below its lowest free descriptor.
    agent = ChildStartedFrom(PELORIN_AGENT_PATH);
    ASSERT_GT(agent, 0);
    ASSERT_EQ(prlimit(agent, RLIMIT_NOFILE, nullptr, &limit), 0);
    int lowestFree = 0;
    while (std::filesystem::exists("/proc/" + std::to_string(agent) + "/fd/" +
                                   std::to_string(lowestFree))) {
      ++lowestFree;
    }
    rlimit lowered = limit;
    lowered.rlim_cur = rlim_t(lowestFree);
    ASSERT_EQ(prlimit(agent, RLIMIT_NOFILE, &lowered, nullptr), 0);
  } else {
    const int lowestFree = fcntl(0, F_DUPFD, 0);
    close(lowestFree);
    limit.rlim_cur = rlim_t(lowestFree);
    setrlimit(RLIMIT_NOFILE, &limit);
    // Another thread may have closed a descriptor below the limit since: every free one is
    // taken.
    for (int fd; (fd = dup(0)) >= 0;) taken.push_back(fd);
  }
  pane().command(kNetstatRefreshId);
  const bool ended = WaitRefreshed(pane());
  for (const int fd : taken) close(fd);
  if (agent > 0) {
    prlimit(agent, RLIMIT_NOFILE, &limit, nullptr);
  } else {
    setrlimit(RLIMIT_NOFILE, &saved);
  }
  ASSERT_TRUE(ended);
  EXPECT_EQ(presenter_.texts(), std::vector<std::string>{"Netstat Memory Allocation Error!"});
  std::vector<RowCells> after;
  for (int row = 0; row < pane().model()->rowCount(); ++row) {
    after.push_back(pane().model()->cells(row));
  }
  EXPECT_EQ(after, before);
  EXPECT_EQ(pane().selectionMark(), udpRow());
  selectAndRun(udpRow(), kCmdCopyLine);
  EXPECT_EQ(Clipboard(), FormatRowLine(before[size_t(udpRow())]));
}

TEST_F(NetstatPaneTest, TheTimerRefreshesUntilManual) {
  auto* interval = FindControl<QComboBox>(&pane(), kNetstatIntervalId);
  ASSERT_EQ(interval->currentText(), "Manual");
  interval->setCurrentIndex(1);  // "1 Second"
  uint16_t port = 0;
  const int early = UdpSocket(kClient, &port);
  EXPECT_TRUE(WaitUntil([&] { return RowOf(pane(), Endpoint(kClient, port), "*.*") >= 0; }, 10000));
  interval->setCurrentIndex(0);
  ASSERT_TRUE(WaitRefreshed(pane()));
  const int late = UdpSocket(kClient, &port);
  ServeEvents(2500);
  EXPECT_EQ(RowOf(pane(), Endpoint(kClient, port), "*.*"), -1);
  close(early);
  close(late);
}

TEST_F(NetstatPaneTest, RowMenuOnRowsOnlyAndTheCopyCommands) {
  std::vector<std::string> items;
  int shown = 0;
  SetOutputMenuRunner([&](QMenu& menu, const QPoint&) {
    ++shown;
    items.clear();
    for (QAction* a : menu.actions()) {
      if (a->menu()) {
        for (QAction* sub : a->menu()->actions()) {
          items.push_back(a->text().toStdString() + ">" + sub->text().toStdString());
        }
      } else if (!a->isSeparator()) {
        items.push_back(a->text().toStdString());
      }
    }
    return kCmdCopyLine;
  });
  const auto rightClick = [&](const QPoint& at) {
    QWidget* viewport = pane().list()->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &event);
  };
  ClickControl(&pane(), kNetstatUdpOnlyId);  // few rows: room below them
  ASSERT_TRUE(WaitRefreshed(pane()));
  Select(pane(), udpRow());
  rightClick(pane().list()->visualRect(pane().model()->index(udpRow(), 2)).center());
  ASSERT_EQ(shown, 1);
  EXPECT_EQ(items, (std::vector<std::string>{"Connection Properties...", "File Properties...",
                                             "Kill Connection...", "Terminate Process...",
                                             "Send To>Ping / Traceroute Remote Address...",
                                             "Send To>Packet Capture...", "Send To>DNS...",
                                             "Copy>Copy List", "Copy>Copy Line", "Copy>Copy IP"}));
  EXPECT_EQ(Clipboard(), Me() + "\tUDP\t" + udp() + "\t*.*\t\r\n");
  rightClick(QPoint(5, pane().list()->viewport()->height() - 3));
  EXPECT_EQ(shown, 1);

  ClickControl(&pane(), kNetstatShowAllId);
  ASSERT_TRUE(WaitRefreshed(pane()));
  selectAndRun(clientRow(), kCmdCopyIp);
  EXPECT_EQ(Clipboard(), kServer);
  pane().command(kCmdCopyList);
  std::string expected;
  for (int row = 0; row < pane().model()->rowCount(); ++row) {
    expected += FormatRowLine(pane().model()->cells(row));
  }
  EXPECT_EQ(Clipboard(), expected);
  EXPECT_NE(expected.find(Me() + "\tTCP\t" + client() + "\t" + server() + "\tESTABLISHED\r\n"),
            std::string::npos);
  EXPECT_EQ(presenter_.count(), 0u);
}

TEST_F(NetstatPaneTest, CommandsWithoutARowSayWhy) {
  pane().list()->selectionModel()->clearCurrentIndex();
  const std::pair<int, const char*> commands[] = {{kCmdConnectionProperties, "No Item Selected!"},
                                                  {kCmdFileProperties, "No Item Selected!"},
                                                  {kCmdKillConnection, "No Connection Selected!"},
                                                  {kCmdTerminateProcess, "No Connection Selected!"},
                                                  {kCmdSendToPing, "No Item Selected!"},
                                                  {kCmdSendToCapture, "No Item Selected!"},
                                                  {kCmdSendToDns, "No Item Selected!"},
                                                  {kCmdCopyLine, "No Item Selected!"},
                                                  {kCmdCopyIp, "No Item Selected!"}};
  for (const auto& [command, text] : commands) {
    presenter_.clear();
    pane().command(command);
    ASSERT_EQ(presenter_.count(), 1u) << command;
    EXPECT_EQ(presenter_.boxes()[0].text.toStdString(), text) << command;
    EXPECT_EQ(presenter_.boxes()[0].caption.toStdString(), "Pelorin Error!");
  }
}

TEST_F(NetstatPaneTest, DoubleClickShowsConnectionProperties) {
  pane().list()->scrollTo(pane().model()->index(udpRow(), 1));
  const QPoint at = pane().list()->visualRect(pane().model()->index(udpRow(), 1)).center();
  // Its text's menu: the text can be copied, never cleared.
  QGuiApplication::clipboard()->clear();
  std::vector<std::string> enabled;
  SetOutputMenuRunner([&](QMenu& menu, const QPoint&) {
    for (QAction* a : menu.actions()) {
      if (a->isEnabled() && !a->isSeparator()) enabled.push_back(a->text().toStdString());
    }
    return kCmdClearOutput;
  });
  const auto rightClick = [](QDialog* popup) {
    auto* edit = FindControl<QPlainTextEdit>(popup, kPopupTextId);
    const QPoint inside(10, 10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, inside,
                            edit->viewport()->mapToGlobal(inside));
    QApplication::sendEvent(edit->viewport(), &event);
  };
  const auto [caption, text] = CatchPopup(
      [&] {
        QTest::mouseClick(pane().list()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(pane().list()->viewport(), Qt::LeftButton, {}, at);
      },
      rightClick);
  EXPECT_EQ(enabled, (std::vector<std::string>{"Select All"}));
  EXPECT_EQ(caption, "Connection Properties :");
  const std::string head = "CONNECTION:\r\n\tProtocol :\tUDP\r\n\r\n\tLocal Address :\t" + udp() +
                           "\r\n\tHostname :\tlocalhost\r\n\tService :\t\t";
  EXPECT_EQ(text.substr(0, head.size()), head);
  const std::string exe = ReadExecutablePath(getpid()).value_or("?");
  EXPECT_NE(text.find("\r\nPROCESS :\r\n\tExe:ProcessID :\t" + Me() + "\r\n\tPath Name :\t" + exe +
                      "\r\n\tCommand Line :\t"),
            std::string::npos)
      << text;
  EXPECT_TRUE(std::regex_search(text, std::regex("\tCommand Line :\t[^\r]*netstat_pane_test")));
  EXPECT_TRUE(std::regex_search(text, std::regex("\tMemory Usage :\t[1-9][0-9,]* Kb\r\n$")));
  EXPECT_EQ(text.find("Remote Address"), std::string::npos);
}

TEST_F(NetstatPaneTest, KillConnection) {
  if (!IsRoot()) GTEST_SKIP() << "needs CAP_NET_ADMIN";
  int spareServer = -1;
  const int spare = Connect(kClient, listener_, kServer, port_, &spareServer);
  EndpointRecord probe{};
  probe.localAddress = inet_addr(kClient);
  probe.localPort = htons(LocalPortOf(spare));
  probe.remoteAddress = inet_addr(kServer);
  probe.remotePort = htons(port_);
  const int destroyed = DestroyTcpConnection(probe);
  close(spare);
  close(spareServer);
  if (destroyed == EOPNOTSUPP) GTEST_SKIP() << "the kernel cannot destroy sockets";
  ASSERT_EQ(destroyed, 0);
  selectAndRun(listenerRow(), kCmdKillConnection);
  EXPECT_EQ(presenter_.texts(), std::vector<std::string>{"Can only kill established connections!"});

  presenter_.clear();
  presenter_.answerNext(MessageAnswer::No);
  selectAndRun(clientRow(), kCmdKillConnection);
  EXPECT_EQ(presenter_.texts(), std::vector<std::string>{"Terminate Connection?"});
  EXPECT_GE(clientRow(), 0);
  const int rows = pane().model()->rowCount();

  presenter_.clear();
  selectAndRun(clientRow(), kCmdKillConnection);
  ASSERT_EQ(presenter_.texts(),
            (std::vector<std::string>{"Terminate Connection?", "Connection Terminated."}));
  const std::vector<MessageRequest> boxes = presenter_.boxes();
  EXPECT_EQ(boxes[0].caption.toStdString(), "Pelorin");
  EXPECT_EQ(boxes[0].icon, MessageIcon::Warning);
  EXPECT_EQ(boxes[0].buttons, MessageButtons::YesNo);
  EXPECT_EQ(boxes[1].caption.toStdString(), "Pelorin");
  EXPECT_EQ(boxes[1].icon, MessageIcon::Information);
  EXPECT_EQ(pane().model()->rowCount(), rows - 1);
  EXPECT_EQ(clientRow(), -1);

  // Both ends see it end: the killed side aborted, its peer reset.
  pollfd peer{server_, POLLIN, 0};
  EXPECT_EQ(poll(&peer, 1, 3000), 1);
  char byte;
  EXPECT_EQ(recv(client_, &byte, 1, MSG_DONTWAIT), -1);
  EXPECT_EQ(errno, ECONNABORTED);
  EXPECT_EQ(recv(server_, &byte, 1, MSG_DONTWAIT), -1);
  EXPECT_EQ(errno, ECONNRESET);
  Refresh(pane());
  EXPECT_EQ(clientRow(), -1);
  EXPECT_EQ(RowOf(pane(), server(), client()), -1);
}

TEST_F(NetstatPaneTest, FilePropertiesAndTerminateProcess) {
  ChildProcess socat({"socat", "-u", std::string("UDP-RECV:0,bind=") + kChildAddress, "/dev/null"});
  std::string name;
  int row = -1;
  ASSERT_TRUE(WaitUntil([&] {
    Refresh(pane());
    for (int r = 0; r < pane().model()->rowCount(); ++r) {
      if (pane().model()->record(r)->processId == uint32_t(socat.pid())) row = r;
    }
    return row >= 0;
  }));
  EXPECT_EQ(pane().model()->cells(row)[kColumnProcess], "socat:" + std::to_string(socat.pid()));

  selectAndRun(row, kCmdFileProperties);
  QWidget* window = pane().findChild<QWidget*>(kFilePropertiesWindowName);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  QStringList labels;
  for (const QLabel* label : window->findChildren<QLabel*>()) labels << label->text();
  EXPECT_TRUE(labels.contains("socat")) << labels.join('|').toStdString();
  EXPECT_TRUE(labels.contains("/usr/bin")) << labels.join('|').toStdString();
  // As this computer's file system and type database tell them.
  const QFileInfo file(QStringLiteral("/usr/bin/socat"));
  for (const QString& fact :
       {QMimeDatabase().mimeTypeForFile(file).comment(),
        QLocale::system().toString(file.lastModified(), QLocale::LongFormat), file.owner(),
        QStringLiteral("%1 bytes")
            .arg(QString::fromStdString(GroupThousands(uint64_t(file.size()))))}) {
    EXPECT_TRUE(labels.contains(fact))
        << fact.toStdString() << " in " << labels.join('|').toStdString();
  }
  window->close();
  EXPECT_EQ(presenter_.count(), 0u);

  selectAndRun(row, kCmdTerminateProcess);
  EXPECT_EQ(presenter_.texts(), std::vector<std::string>{"Terminate Process?"});
  EXPECT_EQ(socat.wait(3000), 128 + SIGKILL);
  // Half a second later the list is gathered anew, without the process.
  EXPECT_TRUE(WaitUntil([&] {
    for (int r = 0; r < pane().model()->rowCount(); ++r) {
      if (pane().model()->record(r)->processId == uint32_t(socat.pid())) return false;
    }
    return !pane().refreshing();
  }));

  // A row without an owner: no file, no process to end.
  int closedServer = -1;
  close(Connect(kClient, listener_, kServer, port_, &closedServer));
  close(closedServer);
  Refresh(pane());
  int timeWait = -1;
  for (int r = 0; r < pane().model()->rowCount() && timeWait < 0; ++r) {
    const RowCells c = pane().model()->cells(r);
    if (c[kColumnRemote] == server() && c[kColumnState] == "TIME_WAIT") timeWait = r;
  }
  ASSERT_GE(timeWait, 0);
  EXPECT_EQ(pane().model()->cells(timeWait)[kColumnProcess], "System:0");
  presenter_.clear();
  selectAndRun(timeWait, kCmdFileProperties);
  selectAndRun(timeWait, kCmdTerminateProcess);
  EXPECT_EQ(presenter_.texts(),
            (std::vector<std::string>{"Failed To Get File Properties!", "Terminate Process?",
                                      "Unable To Terminate The Process!"}));
}

// A process whose file name is not UTF-8 ("\xE9t\xE9", Latin-1): the copies hold the
// characters the list shows. Closed right after Terminate Process, the pane gathers nothing more.
TEST_F(NetstatPaneTest, ALatin1NameIsCopiedAsShownAndCloseStopsTheRefreshAfterTerminate) {
  TempDir dir;
  const std::string path = dir.file("\xE9t\xE9");
  std::filesystem::copy_file("/usr/bin/socat", path);
  ChildProcess child({path, "-u", std::string("UDP-RECV:0,bind=") + kChildAddress, "/dev/null"});
  const uint32_t pid = uint32_t(child.pid());
  int row = -1;
  ASSERT_TRUE(WaitUntil([&] {
    Refresh(pane());
    for (int r = 0; r < pane().model()->rowCount(); ++r) {
      if (pane().model()->record(r)->processId == pid) row = r;
    }
    return row >= 0;
  }));
  QString shown;
  for (int column = 0; column < kEndpointColumns; ++column) {
    if (column > 0) shown += u'\t';
    shown += pane().model()->index(row, column).data().toString();
  }
  shown += QStringLiteral("\r\n");
  EXPECT_TRUE(shown.startsWith(QStringLiteral("\u00E9t\u00E9:%1\t").arg(pid)))
      << shown.toStdString();
  selectAndRun(row, kCmdCopyLine);
  EXPECT_EQ(Clipboard(), shown.toStdString());
  pane().command(kCmdCopyList);
  EXPECT_NE(Clipboard().find(shown.toStdString()), std::string::npos);

  selectAndRun(row, kCmdTerminateProcess);
  pane().closeModule();
  EXPECT_EQ(child.wait(3000), 128 + SIGKILL);
  ServeEvents(1000);  // twice the time after which the refresh would have come
  const EndpointRecord* record = pane().model()->record(row);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->processId, pid);
  EXPECT_EQ(presenter_.texts(), std::vector<std::string>{"Terminate Process?"});
}

TEST_F(NetstatPaneTest, SendToPingDnsAndCapture) {
  MainWindow window;
  auto* netstat = qobject_cast<NetstatPane*>(window.pane(kNetstatButton));
  ASSERT_NE(netstat, nullptr);
  ASSERT_TRUE(WaitRefreshed(*netstat));
  const int row = RowOf(*netstat, client(), server());
  ASSERT_GE(row, 0);
  Select(*netstat, row);
  netstat->command(kCmdSendToPing);
  EXPECT_EQ(window.currentPane(), window.pane(kPingButton));
  EXPECT_EQ(ReadControlText(window.pane(kPingButton), kPingHostBox), kServer);
  netstat->command(kCmdSendToDns);
  EXPECT_EQ(window.currentPane(), window.pane(kDnsButton));
  EXPECT_EQ(ReadControlText(window.pane(kDnsButton), kDnsHostId), kServer);
  // A connection's capture filter is its remote side.
  netstat->command(kCmdSendToCapture);
  EXPECT_EQ(window.currentPane(), window.pane(kCaptureButton));
  const CaptureFilter& filter = CurrentCaptureFilter();
  EXPECT_EQ(filter.includeTcp, 1);
  EXPECT_EQ(filter.includeUdp, 0);
  EXPECT_EQ(filter.portMode, 1);
  EXPECT_EQ(filter.ports[0], htons(port_));
  EXPECT_EQ(filter.ports[1], 0);
  EXPECT_EQ(filter.addressMode, 1);
  EXPECT_EQ(filter.addresses[0], IpAddress::Ipv4(inet_addr(kServer)));
  window.shutdown();
  SetUiShuttingDown(false);
}

// IPv6 rows on ::1 and on an IPv4-mapped address: their cells whole, after the IPv4 rows by
// local address, and every command: the bare address copied and sent (to Packet Capture in its
// filter), Connection Properties with the name of a hosts file of the test's own, Kill
// Connection.
TEST_F(NetstatPaneTest, Ipv6RowsAndTheirCommands) {
  if (!IsRoot()) GTEST_SKIP() << "a hosts file of its own and the kill need root";
  const HostsFileShown hosts("127.0.0.1 localhost\n::1 ip6-loopback\n");
  ASSERT_TRUE(hosts.shown());
  uint16_t port = 0, mappedPort = 0;
  const int listener = Listener6("::1", &port);
  int server = -1;
  const int client = Connect6("::1", listener, "::1", port, &server);
  const int mapped = BoundSocket6(SOCK_DGRAM, "::ffff:127.123.123.123", &mappedPort, false);
  ASSERT_TRUE(listener >= 0 && client >= 0 && server >= 0 && mapped >= 0);
  MainWindow window;
  window.show();
  auto* netstat = qobject_cast<NetstatPane*>(window.pane(kNetstatButton));
  ASSERT_NE(netstat, nullptr);
  ASSERT_TRUE(WaitRefreshed(*netstat));
  const std::string listening = Endpoint6("::1", port);
  const std::string connected = Endpoint6("::1", LocalPortOf6(client));
  const std::string wide = Endpoint6("::ffff:127.123.123.123", mappedPort);
  const auto row = [&](const std::string& local, const std::string& remote) {
    return RowOf(*netstat, local, remote);
  };
  ASSERT_GE(row(listening, "[::]:0"), 0);
  EXPECT_EQ(netstat->model()->cells(row(connected, listening)),
            (RowCells{Me(), "TCP", connected, listening, "ESTABLISHED"}));
  ASSERT_GE(row(wide, "*.*"), 0);

  QHeaderView* header = netstat->list()->horizontalHeader();
  QTest::mouseClick(
      header->viewport(), Qt::LeftButton, {},  // ascending, the first click
      QPoint(header->sectionViewportPosition(kColumnLocal) + 5, header->height() / 2));
  std::string families;
  for (int r = 0; r < netstat->model()->rowCount(); ++r) {
    families += netstat->model()->cells(r)[kColumnLocal][0] == '[' ? '6' : '4';
  }
  EXPECT_TRUE(std::regex_match(families, std::regex("4+6+"))) << families;

  Select(*netstat, row(connected, listening));
  netstat->command(kCmdCopyIp);
  EXPECT_EQ(Clipboard(), "::1");
  netstat->command(kCmdSendToPing);
  EXPECT_EQ(ReadControlText(window.pane(kPingButton), kPingHostBox), "::1");
  netstat->command(kCmdSendToDns);
  EXPECT_EQ(ReadControlText(window.pane(kDnsButton), kDnsHostId), "::1");
  netstat->command(kCmdSendToCapture);
  EXPECT_EQ(CurrentCaptureFilter().addresses[0], *ParseIpv6Address("::1"));
  EXPECT_EQ(CurrentCaptureFilter().ports[0], htons(port));

  const auto [caption, text] = CatchPopup([&] { netstat->command(kCmdConnectionProperties); });
  EXPECT_EQ(caption, "Connection Properties :");
  EXPECT_TRUE(text.starts_with("CONNECTION:\r\n\tProtocol :\tTCP\r\n\r\n\tLocal Address :\t" +
                               connected + "\r\n\tHostname :\tip6-loopback\r\n\tService :\t\t"))
      << text;
  EXPECT_NE(
      text.find("\r\n\r\n\tRemote Address :\t" + listening + "\r\n\tHostname :\tip6-loopback\r\n"),
      std::string::npos)
      << text;

  presenter_.clear();
  Select(*netstat, row(connected, listening));
  netstat->command(kCmdKillConnection);
  ASSERT_TRUE(WaitActed(*netstat));
  EXPECT_EQ(presenter_.texts(),
            (std::vector<std::string>{"Terminate Connection?", "Connection Terminated."}));
  EXPECT_EQ(row(connected, listening), -1);
  char byte;
  EXPECT_EQ(recv(client, &byte, 1, MSG_DONTWAIT), -1);
  EXPECT_EQ(errno, ECONNABORTED);
  window.shutdown();
  SetUiShuttingDown(false);
  for (const int fd : {listener, client, server, mapped}) close(fd);
}

// Through an agent that stops answering (held with SIGSTOP): the window never waits for it. A
// refresh, Kill Connection and File Properties wait off the UI thread while the list keeps its
// rows and the commands that need no host act at once; closed, the pane shows nothing of them,
// even once answered, and the next refresh goes through.
TEST_F(NetstatPaneTest, AStalledAgentNeverHoldsTheWindow) {
  if (!ThroughAgent()) GTEST_SKIP() << "the window's host is this computer";
  const pid_t agent = ChildStartedFrom(PELORIN_AGENT_PATH);
  ASSERT_GT(agent, 0);
  const int rows = pane().model()->rowCount();
  const int row = clientRow();
  ASSERT_GE(row, 0);
  ASSERT_EQ(kill(agent, SIGSTOP), 0);
  struct Continued {
    pid_t agent;
    ~Continued() { kill(agent, SIGCONT); }
  } continued{agent};
  pane().command(kNetstatRefreshId);
  Select(pane(), row);
  pane().command(kCmdKillConnection);
  pane().command(kCmdFileProperties);
  ServeEvents(100);
  EXPECT_TRUE(pane().refreshing());
  EXPECT_TRUE(pane().acting());
  pane().command(kCmdCopyLine);
  EXPECT_EQ(Clipboard(), FormatRowLine(pane().model()->cells(row)));
  EXPECT_EQ(pane().model()->rowCount(), rows);
  pane().closeModule();
  EXPECT_FALSE(pane().refreshing());
  EXPECT_FALSE(pane().acting());
  ASSERT_EQ(kill(agent, SIGCONT), 0);
  ServeEvents(500);
  EXPECT_EQ(presenter_.texts(), std::vector<std::string>{"Terminate Connection?"});
  Refresh(pane());
  EXPECT_GE(listenerRow(), 0);
}

// A host of the test's own whose answers wait until the test lets them go (two seconds at
// most, so a pane that waited on the UI thread fails instead of hanging): one established
// connection of one process.
class HeldNetstatHost : public NetstatService {
 public:
  int resolveHost(const char*, char*, size_t, const RunToken*) override { return 0; }
  std::shared_ptr<const EndpointSnapshot> endpoints(const RunToken*) override {
    ++refreshes_;
    auto snapshot = std::make_shared<EndpointSnapshot>();
    EndpointRecord r{};
    r.protocol = kEndpointTcp;
    r.localAddress = inet_addr("192.0.2.1");
    r.localPort = htons(1001);
    r.remoteAddress = inet_addr("192.0.2.2");
    r.remotePort = htons(2002);
    r.state = kTcpEstablished;
    r.processId = 4242;
    SetProcessName(r, "held");
    snapshot->records.push_back(r);
    return snapshot;
  }
  int killConnection(const EndpointRecord&) override { return held() ? 0 : ETIMEDOUT; }
  TerminateResult terminateProcess(uint32_t) override {
    return held() ? TerminateResult::Terminated : TerminateResult::Failed;
  }
  std::optional<ExecutableFile> executableFile(uint32_t) override {
    held();
    return std::nullopt;
  }
  ProcessText processText(uint32_t, bool, size_t) override { return {}; }
  uint64_t workingSet(uint32_t) override { return 0; }
  std::optional<std::string> serviceName(uint16_t, bool) override { return std::nullopt; }

  void hold() { released_ = false; }
  void release() { released_ = true; }
  std::atomic<int> refreshes_{0};

 private:
  // Whether the test let the answer go in time.
  bool held() {
    for (int waited = 0; !released_; waited += 5) {
      if (waited >= 2000) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  std::atomic<bool> released_{false};
};

// Kill Connection, Terminate Process and File Properties wait on their host off the UI thread:
// the pane goes on meanwhile and shows each answer when it comes; closed while one waits, it
// shows nothing of it.
TEST(NetstatHeldHost, TheCommandsNeverWaitOnTheUiThread) {
  SetUiShuttingDown(false);
  RecordingPresenter presenter;
  HeldNetstatHost host;
  QWidget main;
  NetstatPane pane(&main, host);
  ASSERT_TRUE(WaitRefreshed(pane));
  ASSERT_EQ(pane.model()->rowCount(), 1);
  Select(pane, 0);
  pane.command(kCmdKillConnection);
  EXPECT_TRUE(pane.acting());
  pane.command(kCmdCopyLine);
  EXPECT_EQ(Clipboard(), "held:4242\tTCP\t192.0.2.1:1001\t192.0.2.2:2002\tESTABLISHED\r\n");
  EXPECT_EQ(presenter.texts(), std::vector<std::string>{"Terminate Connection?"});
  host.release();
  ASSERT_TRUE(WaitActed(pane));
  EXPECT_EQ(presenter.texts(),
            (std::vector<std::string>{"Terminate Connection?", "Connection Terminated."}));
  EXPECT_EQ(pane.model()->rowCount(), 0);

  Refresh(pane);
  Select(pane, 0);
  presenter.clear();
  host.hold();
  pane.command(kCmdFileProperties);
  EXPECT_TRUE(pane.acting());
  EXPECT_EQ(presenter.count(), 0u);
  host.release();
  ASSERT_TRUE(WaitActed(pane));
  EXPECT_EQ(presenter.texts(), std::vector<std::string>{"Failed To Get File Properties!"});

  presenter.clear();
  host.hold();
  const int refreshes = host.refreshes_;
  pane.command(kCmdTerminateProcess);
  EXPECT_TRUE(pane.acting());
  pane.closeModule();
  EXPECT_FALSE(pane.acting());
  host.release();
  ServeEvents(1000);  // the answer, and twice the time after which the refresh would have come
  EXPECT_EQ(presenter.texts(), std::vector<std::string>{"Terminate Process?"});
  EXPECT_EQ(host.refreshes_, refreshes);
}

// Another user's endpoints without the privileges to look into them: run as nobody (setpriv)
// against root's own socat connection.
TEST(NetstatUnprivileged, OthersEndpointsAreSystemAndTheCommandsSayNo) {
  if (qEnvironmentVariableIsSet(kInnerVariable)) GTEST_SKIP() << "the other user's run";
  if (!IsRoot()) GTEST_SKIP() << "needs root to change user";
  // The other user's copy would need an agent and a helper it may run: it runs on this
  // computer in the run without the agent.
  if (ThroughAgent()) GTEST_SKIP() << "the other user's window is this computer's";
  uint16_t port = 0;
  const int probe = Listener(kRootAddress, &port);
  close(probe);
  const std::string server = Endpoint(kRootAddress, port);
  // Both ends only read, so the connection stays established (the listener itself closes
  // once it has its one connection).
  ChildProcess listener({"socat", "-u",
                         "TCP-LISTEN:" + std::to_string(port) + ",bind=" + kRootAddress,
                         "OPEN:/dev/null"});
  ASSERT_TRUE(WaitUntil(
      [&] { return RunCommand("ss -4 -tlnH src " + server).find(server) != std::string::npos; }));
  ChildProcess connector({"socat", "-u", "TCP:" + server, "OPEN:/dev/null"});
  ASSERT_TRUE(WaitUntil([&] {
    return RunCommand("ss -4 -tnH state established src " + server).find(server) !=
           std::string::npos;
  }));
  // The build tree may be closed to nobody: run a copy of this program from a folder it can read.
  TempDir dir;
  const std::string self = dir.file("netstat_pane_test");
  RunCommand("cp " + ReadExecutablePath(getpid()).value_or("") + " " + self);
  chmod(dir.path().c_str(), 0755);
  int exitCode = -1;
  const std::string out = RunCommand(
      "setpriv --reuid=65534 --regid=65534 --clear-groups env -u XDG_RUNTIME_DIR " +
          std::string(kInnerVariable) + "=" + server + ":" + std::to_string(listener.pid()) + " " +
          self + " --gtest_filter=NetstatUnprivileged.Inner 2>&1",
      &exitCode);
  EXPECT_EQ(exitCode, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

TEST(NetstatUnprivileged, Inner) {
  const QString given = qEnvironmentVariable(kInnerVariable);
  if (given.isEmpty()) GTEST_SKIP() << "run by the test above";
  ASSERT_NE(geteuid(), 0u);
  const std::string server = given.section(':', 0, 1).toStdString();
  const uint32_t rootPid = given.section(':', 2).toUInt();
  uint16_t ownPort = 0;
  const int own = UdpSocket(kClient, &ownPort);
  RecordingPresenter presenter;
  QWidget main;
  NetstatPane pane(&main, WindowHost().netstat());
  ASSERT_TRUE(WaitRefreshed(pane));

  EXPECT_EQ(pane.model()->cells(RowOf(pane, Endpoint(kClient, ownPort), "*.*"))[kColumnProcess],
            "netstat_pane_test:" + std::to_string(getpid()));
  int connected = -1;
  for (int r = 0; r < pane.model()->rowCount(); ++r) {
    const RowCells c = pane.model()->cells(r);
    if (c[kColumnLocal] == server && c[kColumnState] == "ESTABLISHED") connected = r;
  }
  ASSERT_GE(connected, 0);
  EXPECT_EQ(pane.model()->cells(connected)[kColumnProcess], "System:0");
  Select(pane, connected);
  pane.command(kCmdKillConnection);
  ASSERT_TRUE(WaitActed(pane));
  pane.command(kCmdTerminateProcess);
  ASSERT_TRUE(WaitActed(pane));
  EXPECT_EQ(presenter.texts(),
            (std::vector<std::string>{"Terminate Connection?", "Failed To Kill Connection!",
                                      "Terminate Process?", "Unable To Terminate The Process!"}));
  EXPECT_EQ(TerminateProcessById(rootPid), TerminateResult::CannotOpen);
  char path[300];
  EXPECT_EQ(ReadProcessParameter(rootPid, kSelectImagePath, path, sizeof path), -1);
  close(own);
}

}  // namespace
