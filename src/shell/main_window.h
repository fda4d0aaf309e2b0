#pragma once

#include <QMainWindow>
#include <QPoint>
#include <optional>
#include <span>
#include <vector>

#include "shell/module_table.h"

class FollowLayout;
class ModulePane;
class QLabel;
class QPushButton;
class QWheelEvent;

// Main-window commands.
inline constexpr int kCmdPrimary = 1;
inline constexpr int kCmdCancel = 2;
inline constexpr int kCmdClose = 8;
inline constexpr int kCmdExit = 40002;
inline constexpr int kCmdLogo = 1074;
inline constexpr int kCmdWebSite = 40087;
inline constexpr int kCmdUpdates = 40088;
inline constexpr int kCmdEditor = 40022;
inline constexpr int kCmdCalculator = 40023;
inline constexpr int kCmdTerminal = 40084;
inline constexpr int kCmdHelp = 40051;
inline constexpr int kCmdConnectHost = 40101;

inline constexpr int kLogoId = 1074;
inline constexpr int kVersionLineId = 1075;

inline constexpr const char* kHomePage = "https://pelorin.example.org/";
inline constexpr const char* kUpdatePage = "https://pelorin.example.org/page.php?al=pelorin";

// The host the window inspects when it is not this computer: named in the title and the version
// line. Set before the window is made.
void SetInspectedHostName(const QString& name);

// The main window: logo, the column of module buttons, the version line, the menus, and the
// module panes to the right of the buttons, exactly one of them shown.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(std::span<const ModuleInfo> modules = ModuleTable());
  ~MainWindow() override;

  // Hides every pane and unchecks every button; for a known id, shows that module's pane,
  // checks its button and makes it the current pane.
  void ShowModule(int buttonId);

  // A command of the main window's command table; unknown ids are ignored.
  void command(int id);

  // Runs the close operations in module order, then ends the window and the event loop.
  void shutdown();

  // Restores the window's place, size, maximised state and output text size from this settings
  // file where they fit the screens there are now, and keeps them there at shutdown. Where the
  // platform places windows itself (Wayland), the place is neither restored nor replaced. Without
  // a file (the tests), the window opens as described and keeps nothing.
  void rememberIn(const QString& settingsFile);

  ModulePane* pane(int buttonId) const;
  ModulePane* currentPane() const { return current_; }
  bool isShutDown() const { return shutDown_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void buildMenus();
  void buildControls(QWidget* client);
  void paintLogo();
  bool handleKey(QWidget* target, QKeyEvent* key);
  bool handleWheel(const QWheelEvent* wheel);

  std::vector<ModuleInfo> modules_;
  std::vector<ModulePane*> panes_;
  std::vector<QPushButton*> buttons_;
  FollowLayout* layout_ = nullptr;
  QLabel* logo_ = nullptr;
  ModulePane* current_ = nullptr;
  bool shutDown_ = false;
  bool iconPainted_ = false;
  int wheelTurn_ = 0;  // Ctrl+wheel turns not yet a notch
  QString settingsFile_;
  std::optional<QPoint> savedPlace_;  // as the settings file had it
};

// The main window of this run (null before it is built and after it is gone), for message-box
// owners and the Send To entries.
QWidget* MainWindowHandle();
// ShowModule on the main window, for the Send To entries.
void ShowModule(int buttonId);
