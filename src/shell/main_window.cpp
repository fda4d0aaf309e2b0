#include "shell/main_window.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <QWindow>

#include "base/version_string.h"
#include "shell/controls.h"
#include "shell/desktop_launch.h"
#include "shell/dialog_units.h"
#include "shell/follow_layout.h"
#include "shell/help_window.h"
#include "shell/module_pane.h"
#include "shell/output_menu.h"
#include "shell/output_text_size.h"
#include "shell/pictures.h"
#include "shell/ui_thread.h"
#include "shell/window_settings.h"

namespace {

constexpr int kWindowWidth = 466;  // dialog units
constexpr int kWindowHeight = 287;
constexpr const char* kNotice = "Free software under the MIT License";

QString& InspectedHostName() {
  static QString name;
  return name;
}
constexpr const char* kWebSiteItem = "Pelorin on the Web";

QPointer<MainWindow> g_mainWindow;

struct MenuItem {
  const char* text;  // nullptr: separator
  int command;
  QKeySequence accelerator;
};

bool IsAccelerator(const QKeyEvent* key) {
  if (key->modifiers() != Qt::ControlModifier) return false;
  switch (key->key()) {
    case Qt::Key_M:
    case Qt::Key_P:
    case Qt::Key_L:
    case Qt::Key_X:
      return true;
    default:
      return false;
  }
}

// The output text size a key asks for: Ctrl+Plus (or Ctrl+=, the same key unshifted), Ctrl+Minus
// and Ctrl+0, on the main keys or the keypad; 0 for any other key.
int TextSizeForKey(const QKeyEvent* key) {
  const Qt::KeyboardModifiers mods = key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
  if (mods != Qt::ControlModifier) return 0;
  switch (key->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      return LargerTextSize(OutputTextSize());
    case Qt::Key_Minus:
      return SmallerTextSize(OutputTextSize());
    case Qt::Key_0:
      return kDescribedTextSize;
    default:
      return 0;
  }
}

bool IsEnter(const QKeyEvent* key) {
  return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

// A multi-line text the user can edit (the control or a part of it): Enter is a line break there.
bool IsEditableMultiLine(QWidget* w) {
  const QPlainTextEdit* edit = OutputPaneAt(w);
  return edit != nullptr && !edit->isReadOnly();
}

// Any text the user can edit: Ctrl+X cuts there rather than throwing away what was typed.
bool IsEditableText(QWidget* w) {
  if (const auto* line = qobject_cast<const QLineEdit*>(w)) return !line->isReadOnly();
  if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
    return combo->isEditable() && combo->lineEdit() != nullptr && !combo->lineEdit()->isReadOnly();
  }
  if (const auto* spin = qobject_cast<const QAbstractSpinBox*>(w)) return !spin->isReadOnly();
  return IsEditableMultiLine(w);
}

}  // namespace

void SetInspectedHostName(const QString& name) {
  InspectedHostName() = name;
}

MainWindow::MainWindow(std::span<const ModuleInfo> modules)
    : modules_(modules.begin(), modules.end()) {
  setWindowTitle(InspectedHostName().isEmpty()
                     ? QStringLiteral("Pelorin")
                     : QStringLiteral("Pelorin - %1").arg(InspectedHostName()));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  g_mainWindow = this;
  SetOutputTextSize(kDescribedTextSize);

  buildMenus();
  // The described layout is the smallest the window gets; the panes take the room beyond.
  auto* client = new QWidget(this);
  client->setFont(DialogFont());
  const QSize described(Dlu().x(kWindowWidth), Dlu().y(kWindowHeight));
  client->setMinimumSize(described);
  client->resize(described);
  layout_ = new FollowLayout(client, described);
  setCentralWidget(client);
  buildControls(client);

  for (const ModuleInfo& m : modules_) {
    ModulePane* pane = m.create ? m.create(client) : nullptr;
    if (pane != nullptr) layout_->add(pane, pane->geometry(), kGrowBoth);
    panes_.push_back(pane);
  }
  ShowModule(kNetstatButton);

  resize(minimumSizeHint());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  if (g_mainWindow == this) g_mainWindow = nullptr;
}

void MainWindow::buildMenus() {
  const MenuItem fileItems[] = {
      {"Connect To &Host...", kCmdConnectHost, {}},
      {nullptr, 0, {}},
      {"Co&mmand Prompt...\tCtrl+M", kCmdTerminal, QKeySequence(Qt::CTRL | Qt::Key_M)},
      {"Note&pad...\tCtrl+P", kCmdEditor, QKeySequence(Qt::CTRL | Qt::Key_P)},
      {"Ca&lculator...\tCtrl+L", kCmdCalculator, QKeySequence(Qt::CTRL | Qt::Key_L)},
      {nullptr, 0, {}},
      {"E&xit\tCtrl+X", kCmdExit, QKeySequence(Qt::CTRL | Qt::Key_X)},
  };
  const MenuItem helpItems[] = {
      {"&Help\tF1", kCmdHelp, {}},
      {nullptr, 0, {}},
      {kWebSiteItem, kCmdWebSite, {}},
      {"Check For Updates", kCmdUpdates, {}},
  };
  const auto fill = [this](QMenu* menu, std::span<const MenuItem> items) {
    for (const MenuItem& item : items) {
      if (item.text == nullptr) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(QString::fromLatin1(item.text));
      action->setObjectName(QString::number(item.command));
      const int id = item.command;
      connect(action, &QAction::triggered, this, [this, id] { command(id); });
      if (!item.accelerator.isEmpty()) {
        // Accelerators act in the whole window, before any control sees the key.
        auto* shortcut = new QShortcut(item.accelerator, this);
        connect(shortcut, &QShortcut::activated, this, [this, id] { command(id); });
      }
    }
  };
  fill(menuBar()->addMenu(QStringLiteral("&File")), fileItems);
  fill(menuBar()->addMenu(QStringLiteral("&Help")), helpItems);

  // F1 is a help request from whichever control has the focus.
  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(help, &QShortcut::activated, this, [] { OpenHelp(); });
}

void MainWindow::buildControls(QWidget* client) {
  const DialogUnits& dlu = Dlu();

  // The picture at its real size; the label takes the picture's size rather than the dialog
  // units', which at some fonts would cut its foot off, down to the first button at most (at a
  // font smaller than the layout's, the button would lie over the foot).
  auto* logo = new QLabel(client);
  logo_ = logo;
  SetControlId(logo, kLogoId);
  logo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  const int room = modules_.empty() ? kLogoSize.height() : dlu.y(modules_.front().buttonTop);
  layout_->add(logo, QRect(0, 0, kLogoSize.width(), std::min(kLogoSize.height(), room)), kStay);
  logo->setCursor(Qt::PointingHandCursor);

  for (const ModuleInfo& m : modules_) {
    auto* button = new QPushButton(QString::fromLatin1(m.label), client);
    SetControlId(button, m.buttonId);
    layout_->add(button, dlu.rect(0, m.buttonTop, 72, 18), kStay);
    button->setCheckable(true);  // push-like: stays pressed while its module is shown
    // Every change of its state that ShowModule did not make (a click, a key, the accessible
    // toggle action) shows its module, so exactly one button stays pressed.
    const int id = m.buttonId;
    connect(button, &QPushButton::toggled, this, [this, id] { command(id); });
    buttons_.push_back(button);
  }

  auto* version = new QLabel(client);
  SetControlId(version, kVersionLineId);
  layout_->add(version, dlu.rect(0, 276, 465, 10), Follow{0, 1, 1, 1});  // along the bottom
  version->setAlignment(Qt::AlignCenter);
  version->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  QString line = QStringLiteral("Pelorin Version %1 - %2")
                     .arg(QString::fromLatin1(GetVersionString()), QString::fromLatin1(kNotice));
  if (!InspectedHostName().isEmpty())
    line += QStringLiteral(" - Host: %1").arg(InspectedHostName());
  version->setText(line);
}

void MainWindow::ShowModule(int buttonId) {
  for (ModulePane* p : panes_) {
    if (p) p->hide();
  }
  const auto setPressed = [](QPushButton* b, bool pressed) {
    const QSignalBlocker quiet(b);
    b->setChecked(pressed);
  };
  for (QPushButton* b : buttons_) setPressed(b, false);
  for (size_t i = 0; i < modules_.size(); ++i) {
    if (modules_[i].buttonId != buttonId) continue;
    current_ = panes_[i];
    if (current_) current_->show();
    setPressed(buttons_[i], true);
    return;
  }
}

void MainWindow::command(int id) {
  switch (id) {
    case kCmdPrimary:
      // Posted, as the key's command is: the pane runs it after the key has been handled.
      if (QPointer<ModulePane> target = current_) {
        QMetaObject::invokeMethod(
            target,
            [target] {
              if (target) target->command(kCmdPrimary);
            },
            Qt::QueuedConnection);
      }
      break;
    case kCmdCancel:
    case kCmdClose:
    case kCmdExit:
      shutdown();
      break;
    case kCmdLogo:
    case kCmdWebSite:
      OpenWebPage(QString::fromLatin1(kHomePage));
      break;
    case kCmdUpdates:
      OpenWebPage(QString::fromLatin1(kUpdatePage));
      break;
    case kCmdEditor:
      RunDesktopProgram(DesktopProgram::TextEditor);
      break;
    case kCmdCalculator:
      RunDesktopProgram(DesktopProgram::Calculator);
      break;
    case kCmdTerminal:
      RunDesktopProgram(DesktopProgram::Terminal);
      break;
    case kCmdHelp:
      OpenHelp();
      break;
    case kCmdConnectHost:
      ConnectToHost(this);
      break;
    default:
      for (const ModuleInfo& m : modules_) {
        if (m.buttonId == id) ShowModule(id);
      }
      break;
  }
}

void MainWindow::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  for (ModulePane* p : panes_) {
    if (p) p->closeModule();
  }
  for (ModulePane* p : panes_) {
    if (p) p->hide();
  }
  // From here no worker write reaches a widget; the panes go with the window.
  SetUiShuttingDown();
  if (!settingsFile_.isEmpty()) {
    WindowSettings now;
    // Where the platform places the window, the place kept before (from a session that let the
    // window place itself) stays for the next such session.
    now.place = PlatformPlacesWindows() ? normalGeometry().topLeft() : savedPlace_;
    now.size = normalGeometry().size();
    now.maximized = isMaximized();
    now.textSize = OutputTextSize();
    WriteWindowSettings(settingsFile_, now);
  }
  hide();
  QCoreApplication::quit();
}

ModulePane* MainWindow::pane(int buttonId) const {
  for (size_t i = 0; i < modules_.size(); ++i) {
    if (modules_[i].buttonId == buttonId) return panes_[i];
  }
  return nullptr;
}

bool MainWindow::handleKey(QWidget* target, QKeyEvent* key) {
  if (const int size = TextSizeForKey(key); size != 0) {
    SetOutputTextSize(size);
    return true;
  }
  if (key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) return false;
  if (key->key() == Qt::Key_Escape) {
    command(kCmdCancel);
    return true;
  }
  if (!IsEnter(key) || IsEditableMultiLine(target)) return false;
  // Whatever has the focus, a push button too: a pane's Enter is its command 1 and nothing else.
  command(kCmdPrimary);
  return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride && type != QEvent::ContextMenu &&
      type != QEvent::MouseButtonRelease && type != QEvent::Wheel) {
    return false;
  }
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != this || shutDown_) return false;

  switch (type) {
    case QEvent::ShortcutOverride: {
      // Accelerators come before the controls' own keys, except that Ctrl+X in a text being
      // edited is Cut.
      const auto* key = static_cast<QKeyEvent*>(event);
      const bool cut = key->key() == Qt::Key_X && IsEditableText(widget);
      if (IsAccelerator(key) && !cut) {
        event->ignore();
        return true;
      }
      return false;
    }
    case QEvent::KeyPress:
      return handleKey(widget, static_cast<QKeyEvent*>(event));
    case QEvent::ContextMenu: {
      QPlainTextEdit* edit = OutputPaneAt(widget);
      if (edit == nullptr) return false;
      auto* request = static_cast<QContextMenuEvent*>(event);
      // A request from the keyboard carries no point: no menu.
      if (request->reason() == QContextMenuEvent::Mouse) {
        ShowOutputContextMenu(edit, request->globalPos());
      }
      return true;
    }
    case QEvent::Wheel:
      return handleWheel(static_cast<QWheelEvent*>(event));
    case QEvent::MouseButtonRelease:
      // Only the logo itself: a pane's control may carry the same id.
      if (widget == logo_ && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        command(kCmdLogo);
        return true;
      }
      return false;
    default:
      return false;
  }
}

bool MainWindow::handleWheel(const QWheelEvent* wheel) {
  if (!(wheel->modifiers() & Qt::ControlModifier)) return false;
  // A notch of the wheel is 120; a touchpad sends its turns in smaller parts.
  constexpr int kNotch = 120;
  wheelTurn_ += wheel->angleDelta().y();
  for (; wheelTurn_ >= kNotch; wheelTurn_ -= kNotch) {
    SetOutputTextSize(LargerTextSize(OutputTextSize()));
  }
  for (; wheelTurn_ <= -kNotch; wheelTurn_ += kNotch) {
    SetOutputTextSize(SmallerTextSize(OutputTextSize()));
  }
  return true;
}

void MainWindow::paintLogo() {
  logo_->setPixmap(LogoPicture(devicePixelRatioF()));
}

// The pictures are painted when the window is first shown, not before: painting may hand its
// work to threads, and a window that is never shown needs none.
void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!iconPainted_) {
    setWindowIcon(ProgramIcon());
    iconPainted_ = true;
  }
  // The logo is painted for the scale of the window's screen, and again on a screen of another.
  if (QWindow* handle = windowHandle()) {
    connect(handle, &QWindow::screenChanged, this, &MainWindow::paintLogo, Qt::UniqueConnection);
  }
  paintLogo();
}

void MainWindow::rememberIn(const QString& settingsFile) {
  settingsFile_ = settingsFile;
  const WindowSettings saved = ReadWindowSettings(settingsFile);
  savedPlace_ = saved.place;
  const bool sizeFits = saved.size && saved.size->width() >= minimumWidth() &&
                        saved.size->height() >= minimumHeight();
  if (sizeFits && !PlatformPlacesWindows()) {
    if (FitsAScreen(*saved.size)) resize(*saved.size);  // the compositor places it
  } else if (sizeFits && saved.place && FitsScreens(QRect(*saved.place, *saved.size))) {
    setGeometry(QRect(*saved.place, *saved.size));
  }
  if (saved.maximized) setWindowState(windowState() | Qt::WindowMaximized);
  if (saved.textSize) SetOutputTextSize(*saved.textSize);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  command(kCmdClose);
  event->accept();
}

QWidget* MainWindowHandle() {
  return g_mainWindow.data();
}

void ShowModule(int buttonId) {
  if (g_mainWindow) g_mainWindow->ShowModule(buttonId);
}
