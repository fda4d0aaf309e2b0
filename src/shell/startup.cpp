#include "shell/startup.h"

#include <QApplication>
#include <QDBusConnection>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <memory>

#include "shell/color_scheme.h"
#include "shell/dialog_units.h"
#include "shell/main_window.h"
#include "shell/pictures.h"
#include "shell/window_settings.h"
#include "version.h"

namespace {

constexpr int kSplashMilliseconds = 1000;

// The splash picture at its natural size, centred on the primary screen and painted for its
// scale.
std::unique_ptr<QLabel> ShowSplash() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  auto splash = std::make_unique<QLabel>(
      nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint);
  splash->setPixmap(SplashPicture(screen ? screen->devicePixelRatio() : 1.0));
  splash->resize(kSplashSize);
  if (screen != nullptr) splash->move(SplashTopLeft(screen->geometry(), kSplashSize));
  splash->show();
  splash->raise();
  return splash;
}

}  // namespace

QPoint SplashTopLeft(const QRect& desktop, const QSize& picture) {
  const int right = desktop.x() + desktop.width();
  const int bottom = desktop.y() + desktop.height();
  return QPoint(right / 2 - picture.width() / 2, bottom / 2 - picture.height() / 2);
}

void PrepareApplication(QApplication& app) {
  // The pictures and the help page are compiled into the shell's static library.
  Q_INIT_RESOURCE(pelorin);
  app.setApplicationName(QStringLiteral("Pelorin"));
  // Lets the desktop match the windows to the installed desktop entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral(PELORIN_APP_ID));
  app.setFont(DialogFont());
  // Group boxes as their layouts were drawn for: the title sits on the frame's top line. Check
  // boxes and radio buttons keep the narrow gap before their text that their widths allow for.
  app.setStyleSheet(QStringLiteral(
      "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.6em; }"
      "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
      " left: 6px; padding: 0 2px; }"
      "QCheckBox, QRadioButton { spacing: 4px; }"));
  app.setQuitOnLastWindowClosed(false);  // the program ends only through its shutdown
}

int RunPelorin(QApplication& app, const std::function<void()>& whenShown) {
  PrepareApplication(app);
  FollowDesktopColorScheme(QDBusConnection::sessionBus());
  std::unique_ptr<QLabel> splash = ShowSplash();
  QApplication::processEvents();  // paint the splash while the main window is built

  MainWindow window;
  window.rememberIn(DefaultSettingsFile());
  QTimer::singleShot(kSplashMilliseconds, &window, [&] {
    splash.reset();
    window.show();
    window.raise();
    window.activateWindow();
    if (whenShown) whenShown();
  });
  app.exec();
  return 0;
}
