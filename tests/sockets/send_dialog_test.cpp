#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QPlainTextEdit>
#include <QtTest/QTest>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "pane_driver.h"
#include "recording_presenter.h"
#include "shell/main_window.h"
#include "shell/ui_thread.h"
#include "socket_peer.h"
#include "sockets/command_templates.h"
#include "sockets/tcp_socket_pane.h"
#include "sockets/udp_socket_pane.h"

namespace {

struct SendDialogTest : ::testing::Test {
  void TearDown() override { SetCommandMenuRunner({}); }
  RecordingPresenter boxes;
};

QPlainTextEdit* Edit(SendDialog& d) {
  return FindControl<QPlainTextEdit>(&d, kSendTextId);
}

}  // namespace

TEST_F(SendDialogTest, OkDoesNothingWhileTheModuleHasNoSocket) {
  TcpSocketPane tcp(nullptr, WindowHost().sockets());
  UdpSocketPane udp(nullptr, WindowHost().sockets());
  for (ModulePane* pane : std::vector<ModulePane*>{&tcp, &udp}) {
    pane->show();
    std::string caption;
    const bool ended = WithSendDialog(pane, [&](SendDialog& d) {
      caption = d.windowTitle().toStdString();
      TypeSendText(d, "text");
      ClickControl(&d, kSendOkId);
    });
    EXPECT_FALSE(ended);  // still open until cancelled
    EXPECT_EQ(caption, "Send To :");
  }
  EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(SendDialogTest, CommonCommandsReplaceTheTextWithATemplate) {
  std::vector<std::string> menus;
  int choice = 40059;
  SetCommandMenuRunner([&](QMenu& menu, const QPoint&) {
    menus.clear();
    menus.push_back(menu.title().toStdString());
    for (QAction* sub : menu.actions()) {
      std::string line = sub->text().toStdString() + ":";
      for (QAction* item : sub->menu()->actions()) line += " " + item->text().toStdString();
      menus.push_back(line);
    }
    return choice;
  });
  SendDialog dialog(nullptr, {});
  TypeSendText(dialog, "typed before");
  ClickControl(&dialog, kCommonCommandsId);
  EXPECT_EQ(menus, (std::vector<std::string>{
                       "Commands", "HTTP: GET HEAD",
                       "POP3: USER PASS APOP STAT LIST UIDL TOP RETR DELE NOOP RSET QUIT",
                       "SMTP: USER PASS HELO MAIL FROM RCPT TO DATA RSET NOOP QUIT"}));
  EXPECT_EQ(dialog.text(), CommandTemplateText(40059));

  choice = 40077;  // SMTP MAIL FROM
  ClickControl(&dialog, kCommonCommandsId);
  EXPECT_EQ(dialog.text(), "MAIL FROM:<>\r\n");
  choice = 0;  // dismissed
  ClickControl(&dialog, kCommonCommandsId);
  EXPECT_EQ(dialog.text(), "MAIL FROM:<>\r\n");
}

// From the keyboard, Enter on a focused button presses that button, not OK.
TEST_F(SendDialogTest, EnterOnAFocusedButtonPressesThatButton) {
  int menus = 0, cancels = 0, oks = 0;
  SetCommandMenuRunner([&](QMenu&, const QPoint&) {
    ++menus;
    return 0;
  });
  SendDialog dialog(nullptr, [&](SendDialog&) { ++oks; });
  QObject::connect(&dialog, &QDialog::rejected, [&] { ++cancels; });
  dialog.show();
  for (int id : {kCommonCommandsId, kSendCancelId}) {
    QWidget* button = FindControlWidget(&dialog, id);
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Return);
  }
  EXPECT_EQ(menus, 1);
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(oks, 0);
}

TEST_F(SendDialogTest, TextIsLimitedToAThousandCharactersAsSent) {
  SendDialog dialog(nullptr, {});
  QPlainTextEdit* edit = Edit(dialog);
  edit->insertPlainText(QString(1200, QLatin1Char('a')));
  EXPECT_EQ(dialog.text(), std::string(1000, 'a'));

  // A line break is CR LF: it needs two of the thousand.
  edit->setPlainText(QString(997, QLatin1Char('a')));
  edit->moveCursor(QTextCursor::End);
  edit->insertPlainText(QStringLiteral("\nbcd"));
  EXPECT_EQ(dialog.text(), std::string(997, 'a') + "\r\nb");
  edit->insertPlainText(QStringLiteral("e"));
  EXPECT_EQ(dialog.text().size(), 1000u);

  // Typing in the middle of a full text is refused; the text stays as it was.
  QTextCursor cursor = edit->textCursor();
  cursor.setPosition(5);
  edit->setTextCursor(cursor);
  edit->insertPlainText(QStringLiteral("zz"));
  EXPECT_EQ(dialog.text(), std::string(997, 'a') + "\r\nb");
}

TEST_F(SendDialogTest, ShutdownWithBothTerminalsActiveEndsThemCleanly) {
  SetUiShuttingDown(false);
  auto window = std::make_unique<MainWindow>();
  auto* tcp = static_cast<TcpSocketPane*>(window->pane(kTcpButton));
  auto* udp = static_cast<UdpSocketPane*>(window->pane(kUdpButton));
  ASSERT_TRUE(WaitUntil([&] { return !tcp->fillingAddresses() && !udp->fillingAddresses(); }));

  const uint16_t port = FreeTcpPort();
  SocatPeer peer({"TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr", "-"});
  ASSERT_TRUE(WaitForTcpListener(port));
  SetText(tcp, kTcpHostId, "127.0.0.1");
  SetText(tcp, kTcpPortId, std::to_string(port));
  ClickControl(tcp, kTcpConnectId);
  const uint16_t udpPort = FreeUdpPort();
  SelectLoopback(udp, kUdpLocalAddressId);
  SetText(udp, kUdpLocalPortId, std::to_string(udpPort));
  ClickControl(udp, kUdpStartId);
  ASSERT_TRUE(WaitForOutput(tcp, "#>[Connected]\r\n"));
  ASSERT_TRUE(WaitForOutput(udp, "#>[UDP Socket Active"));
  peer.write("arriving during shutdown\n");

  window->shutdown();
  window.reset();
  // Both workers closed their sockets by themselves, though nothing waited for them.
  EXPECT_EQ(peer.waitExit(), 0);
  EXPECT_TRUE(WaitUntil([&] { return !WaitForUdpSocket(udpPort, 0); }));
  ServeEvents(50);
  SetUiShuttingDown(false);
}
