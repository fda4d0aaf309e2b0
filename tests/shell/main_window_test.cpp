#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <array>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/connect_dialog.h"
#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/desktop_launch.h"
#include "shell/main_window.h"
#include "shell/module_pane.h"
#include "shell/output.h"
#include "shell/output_menu.h"
#include "shell/output_text_size.h"
#include "shell/ui_thread.h"
#include "test_util.h"

namespace {

std::vector<std::string> g_log;

// A pane that writes what the shell asks of it to g_log. The Base64 / MD5 row's pane has an
// editable text; every pane has a read-only output, a button and a combo box.
class SpyPane : public ModulePane {
 public:
  SpyPane(QWidget* main, std::string name, bool editable)
      : ModulePane(main), name_(std::move(name)) {
    MakeOutputPane(this, kOutputPaneId, QRect(7, 40, 374, 200), !editable, OutputScrollBars::Both,
                   true);
    auto* combo = new QComboBox(this);
    combo->setEditable(true);
    SetControlId(combo, 1003);
    place(combo, 7, 7, 100, 12);
    auto* button = new QPushButton(QStringLiteral("Go"), this);
    SetControlId(button, 1);
    place(button, 120, 7, 50, 14);
  }
  void command(int id) override { g_log.push_back(name_ + ":command " + std::to_string(id)); }
  void closeModule() override { g_log.push_back(name_ + ":close"); }

 private:
  std::string name_;
};

template <size_t I>
ModulePane* MakeSpy(QWidget* main) {
  return new SpyPane(main, ModuleTable()[I].label, ModuleTable()[I].buttonId == kCodecButton);
}

std::array<ModuleInfo, 9> SpyTable() {
  std::array<ModuleInfo, 9> table{};
  for (size_t i = 0; i < 9; ++i) table[i] = ModuleTable()[i];
  table[0].create = MakeSpy<0>;
  table[1].create = MakeSpy<1>;
  table[2].create = MakeSpy<2>;
  table[3].create = MakeSpy<3>;
  table[4].create = MakeSpy<4>;
  table[5].create = MakeSpy<5>;
  table[6].create = MakeSpy<6>;
  table[7].create = MakeSpy<7>;
  table[8].create = MakeSpy<8>;
  return table;
}

const std::vector<std::string> kCloseOrder = {
    "Netstat:close",    "Ping / Trace:close",   "DNS:close",
    "Whois:close",      "Packet Capture:close", "TCP Socket:close",
    "UDP Socket:close", "Base64 / MD5:close",   "NetInfo:close"};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log.clear();
    SetUiShuttingDown(false);
    table_ = SpyTable();
    window_ = std::make_unique<MainWindow>(table_);
    window_->show();
    QApplication::setActiveWindow(window_.get());
    LaunchHooks hooks;
    hooks.runProgram = [this](DesktopProgram p) { programs_.push_back(p); };
    hooks.openPage = [this](const QString& url) { pages_.push_back(url.toStdString()); };
    SetLaunchHooks(hooks);
  }
  void TearDown() override {
    SetLaunchHooks({});
    SetOutputMenuRunner({});
    window_.reset();
    SetUiShuttingDown(false);
  }

  std::vector<std::string> shownPanes() const {
    std::vector<std::string> shown;
    for (const ModuleInfo& m : table_) {
      if (window_->pane(m.buttonId)->isVisible()) shown.push_back(m.label);
    }
    return shown;
  }
  QPushButton* button(int id) const { return FindControl<QPushButton>(window_.get(), id); }
  QPlainTextEdit* output(int buttonId) const {
    return FindControl<QPlainTextEdit>(window_->pane(buttonId), kOutputPaneId);
  }
  QAction* action(int id) const { return window_->findChild<QAction*>(QString::number(id)); }
  void sendKey(QWidget* to, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    to->setFocus();
    QTest::keyClick(to, key, mods);
  }

  std::array<ModuleInfo, 9> table_;
  std::unique_ptr<MainWindow> window_;
  std::vector<DesktopProgram> programs_;
  std::vector<std::string> pages_;
};

}  // namespace

TEST_F(MainWindowTest, StartsWithNetstatShownAndPressed) {
  EXPECT_EQ(window_->windowTitle(), "Pelorin");
  EXPECT_EQ(shownPanes(), std::vector<std::string>{"Netstat"});
  for (const ModuleInfo& m : table_) {
    EXPECT_EQ(button(m.buttonId)->isChecked(), m.buttonId == kNetstatButton) << m.label;
    EXPECT_EQ(button(m.buttonId)->text().toStdString(), m.label);
  }
  EXPECT_EQ(window_->currentPane(), window_->pane(kNetstatButton));
  // Opens at its smallest, the described size, and can be resized and maximised.
  EXPECT_EQ(window_->size(), window_->minimumSize());
  EXPECT_GT(window_->maximumWidth(), window_->minimumWidth());
  EXPECT_TRUE(window_->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(MainWindowTest, VersionLineAndLogo) {
  auto* version = FindControl<QLabel>(window_.get(), kVersionLineId);
  ASSERT_NE(version, nullptr);
  EXPECT_TRUE(version->text().startsWith("Pelorin Version v1.1.0.0 - "));
  EXPECT_GT(version->text().size(), QString("Pelorin Version v1.1.0.0 - ").size());
  auto* logo = FindControl<QLabel>(window_.get(), kLogoId);
  ASSERT_NE(logo, nullptr);
  EXPECT_EQ(logo->pixmap().deviceIndependentSize(), QSizeF(104, 150));
  EXPECT_EQ(logo->width(), 104);
  EXPECT_EQ(logo->cursor().shape(), Qt::PointingHandCursor);
  QTest::mouseClick(logo, Qt::LeftButton);
  EXPECT_EQ(pages_, std::vector<std::string>{kHomePage});
}

TEST_F(MainWindowTest, ButtonsSwitchPanesAndHiddenOnesKeepTheirState) {
  AppendOutput(window_->pane(kDnsButton), kOutputPaneId, std::string_view("kept\r\n"));
  QTest::mouseClick(button(kTcpButton), Qt::LeftButton);
  EXPECT_EQ(shownPanes(), std::vector<std::string>{"TCP Socket"});
  EXPECT_TRUE(button(kTcpButton)->isChecked());
  EXPECT_FALSE(button(kNetstatButton)->isChecked());
  // The shown module's button stays pressed when clicked again.
  QTest::mouseClick(button(kTcpButton), Qt::LeftButton);
  EXPECT_TRUE(button(kTcpButton)->isChecked());
  EXPECT_EQ(shownPanes(), std::vector<std::string>{"TCP Socket"});
  window_->ShowModule(kDnsButton);
  EXPECT_EQ(GetOutputText(window_->pane(kDnsButton), kOutputPaneId), "kept\r\n");
}

TEST_F(MainWindowTest, UnknownModuleIdShowsNoPane) {
  window_->ShowModule(4242);
  EXPECT_TRUE(shownPanes().empty());
  for (const ModuleInfo& m : table_) EXPECT_FALSE(button(m.buttonId)->isChecked());
  EXPECT_EQ(window_->currentPane(), window_->pane(kNetstatButton));
  ShowModule(kNetInfoButton);  // the entry the Send To commands use
  EXPECT_EQ(shownPanes(), std::vector<std::string>{"NetInfo"});
}

TEST_F(MainWindowTest, EnterIsForwardedToTheCurrentPaneAsCommandOne) {
  window_->ShowModule(kDnsButton);
  auto* combo = FindControl<QComboBox>(window_->pane(kDnsButton), 1003);
  sendKey(combo, Qt::Key_Return);
  EXPECT_TRUE(WaitUntil([] { return !g_log.empty(); }));
  EXPECT_EQ(g_log, std::vector<std::string>{"DNS:command 1"});
  EXPECT_EQ(combo->count(), 0);  // the box's own history is the module's business

  g_log.clear();
  sendKey(output(kDnsButton), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_TRUE(WaitUntil([] { return !g_log.empty(); }));
  EXPECT_EQ(g_log, std::vector<std::string>{"DNS:command 1"});

  // A focused push button is not pressed by Enter, in a pane with an editable text too.
  window_->ShowModule(kCodecButton);
  auto* go = FindControl<QPushButton>(window_->pane(kCodecButton), 1);
  int clicks = 0;
  QObject::connect(go, &QPushButton::clicked, [&] { ++clicks; });
  g_log.clear();
  sendKey(go, Qt::Key_Return);
  EXPECT_TRUE(WaitUntil([] { return !g_log.empty(); }));
  EXPECT_EQ(g_log, std::vector<std::string>{"Base64 / MD5:command 1"});
  EXPECT_EQ(clicks, 0);
}

TEST_F(MainWindowTest, EnterInAnEditableTextIsALineBreak) {
  window_->ShowModule(kCodecButton);
  QPlainTextEdit* text = output(kCodecButton);
  sendKey(text, Qt::Key_A);
  sendKey(text, Qt::Key_Return);
  sendKey(text, Qt::Key_B);
  ServeEvents(50);
  EXPECT_EQ(text->toPlainText(), "a\nb");
  EXPECT_TRUE(g_log.empty());
}

TEST_F(MainWindowTest, EveryShutdownPathRunsTheCloseOperationsInOrder) {
  const std::vector<std::function<void()>> paths = {
      [&] { window_->close(); },                                                 // the close box
      [&] { sendKey(button(kDnsButton), Qt::Key_Escape); },                      // Escape
      [&] { action(kCmdExit)->trigger(); },                                      // File > Exit
      [&] { sendKey(output(kNetstatButton), Qt::Key_X, Qt::ControlModifier); },  // Ctrl+X
  };
  for (size_t i = 0; i < paths.size(); ++i) {
    SetUp();
    paths[i]();
    ServeEvents(20);
    EXPECT_EQ(g_log, kCloseOrder) << "path " << i;
    EXPECT_TRUE(window_->isShutDown());
    EXPECT_FALSE(window_->isVisible());
    EXPECT_TRUE(UiShuttingDown());
  }
}

TEST_F(MainWindowTest, CtrlXInATextBeingEditedIsCut) {
  window_->ShowModule(kCodecButton);
  QPlainTextEdit* text = output(kCodecButton);
  text->setPlainText("typed");
  text->selectAll();
  sendKey(text, Qt::Key_X, Qt::ControlModifier);
  auto* box = FindControl<QComboBox>(window_->pane(kCodecButton), 1003);
  box->setEditText("host");
  box->lineEdit()->selectAll();
  sendKey(box, Qt::Key_X, Qt::ControlModifier);
  ServeEvents(20);
  EXPECT_EQ(text->toPlainText(), "");
  EXPECT_EQ(box->currentText(), "");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "host");
  EXPECT_FALSE(window_->isShutDown());
  EXPECT_TRUE(g_log.empty());
}

TEST_F(MainWindowTest, AModuleButtonsAccessibleActionsShowItsModule) {
  QAccessibleInterface* tcp = QAccessible::queryAccessibleInterface(button(kTcpButton));
  ASSERT_NE(tcp, nullptr);
  ASSERT_NE(tcp->actionInterface(), nullptr);
  for (int i = 0; i < 2; ++i) {  // the second time on the module already shown
    tcp->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(shownPanes(), std::vector<std::string>{"TCP Socket"});
    for (const ModuleInfo& m : table_) {
      EXPECT_EQ(button(m.buttonId)->isChecked(), m.buttonId == kTcpButton) << m.label;
    }
  }
}

TEST_F(MainWindowTest, MenusCarryTheirTextsAndCommands) {
  EXPECT_EQ(action(kCmdTerminal)->text(), "Co&mmand Prompt...\tCtrl+M");
  EXPECT_EQ(action(kCmdEditor)->text(), "Note&pad...\tCtrl+P");
  EXPECT_EQ(action(kCmdCalculator)->text(), "Ca&lculator...\tCtrl+L");
  EXPECT_EQ(action(kCmdExit)->text(), "E&xit\tCtrl+X");
  EXPECT_EQ(action(kCmdHelp)->text(), "&Help\tF1");
  EXPECT_EQ(action(kCmdUpdates)->text(), "Check For Updates");

  action(kCmdTerminal)->trigger();
  sendKey(button(kNetstatButton), Qt::Key_P, Qt::ControlModifier);
  sendKey(output(kNetstatButton), Qt::Key_L, Qt::ControlModifier);
  EXPECT_EQ(programs_,
            (std::vector<DesktopProgram>{DesktopProgram::Terminal, DesktopProgram::TextEditor,
                                         DesktopProgram::Calculator}));
  sendKey(button(kNetstatButton), Qt::Key_M, Qt::ControlModifier);
  EXPECT_EQ(programs_.size(), 4u);
  action(kCmdWebSite)->trigger();
  action(kCmdUpdates)->trigger();
  EXPECT_EQ(pages_, (std::vector<std::string>{kHomePage, kUpdatePage}));
  EXPECT_EQ(std::string(kUpdatePage), "https://pelorin.example.org/page.php?al=pelorin");
}

// Answers the next Connect To Host dialog: each text typed and OK clicked in turn, then Cancel if
// the dialog is still open. The combo box's items when it came are kept.
QStringList AnswerConnectDialog(QWidget* window, const std::vector<QString>& texts) {
  auto offered = std::make_shared<QStringList>();
  QTimer::singleShot(0, window, [window, texts, offered] {
    auto* dialog = window->findChild<ConnectDialog*>();
    if (dialog == nullptr) return;
    auto* host = FindControl<QComboBox>(dialog, kConnectHostId);
    for (int i = 0; i < host->count(); ++i) offered->append(host->itemText(i));
    for (const QString& text : texts) {
      host->setEditText(text);
      ClickControl(dialog, kConnectOkId);
    }
    if (dialog->isVisible()) dialog->reject();
  });
  window->findChild<QAction*>(QString::number(kCmdConnectHost))->trigger();
  return *offered;
}

TEST_F(MainWindowTest, ConnectToHostStartsAWindowForTheDestinationAndOffersItNextTime) {
  TempDir config;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path()));
  RecordingPresenter boxes;
  std::vector<QString> started;
  SetHostWindowStarter([&](const QString& destination) {
    started.push_back(destination);
    return true;
  });
  EXPECT_EQ(action(kCmdConnectHost)->text(), "Connect To &Host...");

  // What ssh would take as an option is refused in the dialog, which stays open for another.
  EXPECT_TRUE(AnswerConnectDialog(window_.get(), {"-oProxyCommand=sh", " admin@server.test:2222 "})
                  .isEmpty());
  EXPECT_EQ(boxes.texts(),
            std::vector<std::string>{
                "'-oProxyCommand=sh' is not a destination ssh takes ([user@]host[:port])."});
  AnswerConnectDialog(window_.get(), {"router"});
  EXPECT_EQ(started, (std::vector<QString>{"admin@server.test:2222", "router"}));

  // Newest first, each once, at most ten; Cancel starts nothing.
  EXPECT_EQ(AnswerConnectDialog(window_.get(), {}),
            (QStringList{"router", "admin@server.test:2222"}));
  EXPECT_EQ(started.size(), 2u);
  for (int i = 0; i < 12; ++i) AnswerConnectDialog(window_.get(), {QString("host%1").arg(i % 11)});
  const QStringList recent = ReadRecentHosts(RecentHostsFile());
  EXPECT_EQ(recent.size(), kRecentHostLimit);
  EXPECT_EQ(recent.front(), "host0");
  EXPECT_EQ(recent.mid(1, 2), (QStringList{"host10", "host9"}));
  SetHostWindowStarter({});
  qunsetenv("XDG_CONFIG_HOME");
}

TEST_F(MainWindowTest, HelpOpensTheBuiltInPage) {
  sendKey(button(kNetstatButton), Qt::Key_F1);
  QWidget* help = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->windowTitle() == "Pelorin Help" && w->isVisible()) help = w;
  }
  ASSERT_NE(help, nullptr);
  const QString text = help->property("plainText").toString();
  for (const char* section :
       {"About", "System Requirements", "Netstat", "Ping / Trace", "DNS", "Whois", "Packet Capture",
        "TCP Socket", "UDP Socket", "Base64 / MD5", "NetInfo", "Troubleshooting", "License"}) {
    EXPECT_TRUE(text.contains(QString::fromLatin1(section))) << section;
  }
  EXPECT_TRUE(text.contains("MIT License"));
  help->close();
}

namespace {

struct MenuSeen {
  std::vector<std::string> items;   // enabled item texts
  std::vector<std::string> greyed;  // disabled item texts
  int shown = 0;
};

// Captures the menu instead of showing it, and answers with `choice`.
void CaptureMenus(MenuSeen& seen, int choice = 0) {
  SetOutputMenuRunner([&seen, choice](QMenu& menu, const QPoint&) {
    ++seen.shown;
    seen.items.clear();
    seen.greyed.clear();
    for (QAction* a : menu.actions()) {
      if (a->isSeparator()) continue;
      (a->isEnabled() ? seen.items : seen.greyed).push_back(a->text().toStdString());
    }
    return choice;
  });
}

void RightClick(QWidget* w, QContextMenuEvent::Reason reason = QContextMenuEvent::Mouse) {
  QContextMenuEvent event(reason, QPoint(5, 5), w->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(w, &event);
}

}  // namespace

TEST_F(MainWindowTest, ContextMenuOverAnEmptyReadOnlyPane) {
  MenuSeen seen;
  CaptureMenus(seen);
  QGuiApplication::clipboard()->clear();
  RightClick(output(kNetstatButton)->viewport());
  ASSERT_EQ(seen.shown, 1);
  EXPECT_EQ(seen.items, (std::vector<std::string>{"Clear Output", "Select All"}));
  EXPECT_EQ(seen.greyed, (std::vector<std::string>{"Cut", "Copy", "Paste", "Delete"}));

  QGuiApplication::clipboard()->setText("x");
  RightClick(output(kNetstatButton)->viewport());
  EXPECT_EQ(seen.items, (std::vector<std::string>{"Clear Output", "Paste", "Select All"}));

  // The scroll bars are the pane's too. (A menu of their own would wait for a choice: closed.)
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [] {
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
  });
  closer.start(200);
  RightClick(output(kNetstatButton)->verticalScrollBar());
  RightClick(output(kNetstatButton)->horizontalScrollBar());
  EXPECT_EQ(seen.shown, 4);
}

TEST_F(MainWindowTest, ContextMenuOverAnEditablePane) {
  MenuSeen seen;
  CaptureMenus(seen);
  QGuiApplication::clipboard()->clear();
  QPlainTextEdit* text = output(kCodecButton);
  text->setPlainText("abc");
  RightClick(text->viewport());
  EXPECT_EQ(seen.items, (std::vector<std::string>{"Clear Output", "Delete", "Select All"}));
  text->selectAll();
  RightClick(text->viewport());
  EXPECT_EQ(seen.items,
            (std::vector<std::string>{"Clear Output", "Cut", "Copy", "Delete", "Select All"}));
  text->selectAll();
  RightClick(output(kNetstatButton)->viewport());
  EXPECT_EQ(seen.greyed, (std::vector<std::string>{"Cut", "Copy", "Paste", "Delete"}));
}

TEST_F(MainWindowTest, ContextMenuCommandsActOnTheControl) {
  MenuSeen seen;
  QPlainTextEdit* out = output(kNetstatButton);
  AppendOutput(window_->pane(kNetstatButton), kOutputPaneId, std::string_view("line one\r\n"));
  CaptureMenus(seen, kCmdSelectAll);
  RightClick(out->viewport());
  EXPECT_EQ(out->textCursor().selectedText(), QString("line one") + QChar::ParagraphSeparator);
  CaptureMenus(seen, kCmdCopy);
  RightClick(out->viewport());
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "line one\r\n");  // as the pane holds it
  CaptureMenus(seen, kCmdClearOutput);  // a read-only pane is cleared too
  RightClick(out->viewport());
  EXPECT_EQ(out->toPlainText(), "");

  QPlainTextEdit* text = output(kCodecButton);
  text->setPlainText("abcdef");
  QTextCursor c = text->textCursor();
  c.setPosition(1);
  c.setPosition(3, QTextCursor::KeepAnchor);
  text->setTextCursor(c);
  CaptureMenus(seen, kCmdDelete);
  RightClick(text->viewport());
  EXPECT_EQ(text->toPlainText(), "adef");
  QGuiApplication::clipboard()->setText("XY");
  CaptureMenus(seen, kCmdPaste);
  RightClick(text->viewport());
  EXPECT_EQ(text->toPlainText(), "aXYdef");
}

TEST_F(MainWindowTest, NoMenuOverOtherControlsOrFromTheKeyboard) {
  MenuSeen seen;
  CaptureMenus(seen);
  ModulePane* pane = window_->pane(kNetstatButton);
  RightClick(FindControl<QPushButton>(pane, 1));
  RightClick(FindControl<QComboBox>(pane, 1003));
  RightClick(button(kDnsButton));
  RightClick(output(kNetstatButton)->viewport(), QContextMenuEvent::Keyboard);
  EXPECT_EQ(seen.shown, 0);
}

namespace {

// A run of the program with spy panes, keeping its settings in `file` as the program keeps them
// in the user's configuration folder.
std::unique_ptr<MainWindow> OpenWindow(std::array<ModuleInfo, 9>& table, const std::string& file) {
  SetUiShuttingDown(false);
  auto window = std::make_unique<MainWindow>(table);
  window->rememberIn(QString::fromStdString(file));
  window->show();
  return window;
}

int OutputPoints(const MainWindow& window) {
  return FindControl<QPlainTextEdit>(window.pane(kDnsButton), kOutputPaneId)->font().pointSize();
}

// A place on the screen a little larger than the smallest window.
QRect PlaceOnScreen(const MainWindow& window) {
  const QRect screen = window.screen()->availableGeometry();
  return QRect(screen.topLeft() + QPoint(10, 20), window.minimumSize() + QSize(40, 30));
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace

TEST(WindowSettings, PlaceSizeStateAndTextSizeAreKeptBetweenRuns) {
  TempDir dir;
  const std::string file = dir.file("pelorin.ini");
  std::array<ModuleInfo, 9> table = SpyTable();
  QRect placed;
  {
    auto window = OpenWindow(table, file);  // nothing kept yet: as described
    EXPECT_EQ(window->size(), window->minimumSize());
    EXPECT_EQ(OutputPoints(*window), kDescribedTextSize);
    placed = PlaceOnScreen(*window);
    window->setGeometry(placed);
    SetOutputTextSize(12);
    window->shutdown();
  }
  {
    auto window = OpenWindow(table, file);
    EXPECT_EQ(window->geometry(), placed);
    EXPECT_EQ(OutputPoints(*window), 12);
    window->showMaximized();
    window->shutdown();
  }
  auto window = OpenWindow(table, file);
  EXPECT_TRUE(window->isMaximized());
  EXPECT_EQ(window->normalGeometry(), placed);  // where it goes back to
  window->shutdown();
  SetUiShuttingDown(false);
}

TEST(WindowSettings, DamagedOrUnfittingSettingsAreIgnored) {
  TempDir dir;
  const std::string file = dir.file("pelorin.ini");
  std::array<ModuleInfo, 9> table = SpyTable();
  std::mt19937 random(21);
  std::string garbage("[window]\nx=\x01\xff\nwidth=@Rect(\n[[\n\0=\\", 30);
  while (garbage.size() < 8192) garbage += char(random());
  WriteFile(file, garbage);
  QRect placed;
  {
    auto window = OpenWindow(table, file);  // opens as described
    EXPECT_EQ(window->size(), window->minimumSize());
    EXPECT_EQ(OutputPoints(*window), kDescribedTextSize);
    placed = PlaceOnScreen(*window);
    window->setGeometry(placed);
    SetOutputTextSize(10);
    window->shutdown();
  }
  {
    auto window = OpenWindow(table, file);  // the damaged file gave way to good settings
    EXPECT_EQ(window->geometry(), placed);
    EXPECT_EQ(OutputPoints(*window), 10);
    window->shutdown();
  }
  // Off every screen, smaller than the window can be, a text size not offered: as described.
  for (const char* settings : {"[window]\nx=100000\ny=20\nwidth=900\nheight=600\n"
                               "[output]\ntextSize=13\n",
                               "[window]\nx=0\ny=0\nwidth=100\nheight=100\n"}) {
    WriteFile(file, settings);
    auto window = OpenWindow(table, file);
    EXPECT_EQ(window->size(), window->minimumSize()) << settings;
    EXPECT_EQ(OutputPoints(*window), kDescribedTextSize) << settings;
    window->shutdown();
  }
  SetUiShuttingDown(false);
}
