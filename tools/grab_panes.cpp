// Renders the main window once per module, then every dialog the panes open, for looking at
// their layouts:
//   build/default/tools/grab_panes OUT_DIR [WIDTHxHEIGHT | max]
// The window has its smallest size unless a size is given, or "max": the screen's whole room,
// as maximised. Off-screen by default; with QT_QPA_PLATFORM=xcb under xvfb-run it paints on a
// real X display.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <functional>

#include "capture/capture_filter.h"
#include "capture/capture_filter_dialog.h"
#include "host/helper_client.h"
#include "host/host.h"
#include "netstat/file_properties.h"
#include "netstat/netstat_service.h"
#include "netstat/text_popup.h"
#include "shell/main_window.h"
#include "shell/message_presenter.h"
#include "shell/module_table.h"
#include "shell/startup.h"
#include "sockets/send_dialog.h"

namespace {

// Grabs the modal window that `open` shows, then closes it so that `open` returns.
void GrabModal(const QDir& out, const QString& name, const std::function<void()>& open) {
  QTimer::singleShot(200, [out, name] {
    if (QWidget* shown = QApplication::activeModalWidget()) {
      shown->grab().save(out.filePath(name + QStringLiteral(".png")));
      shown->close();
    }
  });
  open();
}

// Serves events for a while, so timers (NetInfo's statistics) have ticked.
void Settle(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

void GrabShown(const QDir& out, const QString& name, QWidget* window) {
  window->show();
  QApplication::processEvents();
  window->grab().save(out.filePath(name + QStringLiteral(".png")));
  window->close();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  PrepareApplication(app);
  UseHelperAt(PELORIN_HELPER_PATH);
  const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  MainWindow window;
  const QString size = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
  if (size == QLatin1String("max")) {
    // A virtual display has no window manager to maximise it: the window takes the room itself.
    window.setGeometry(window.screen()->availableGeometry());
  } else if (const QStringList wh = size.split(QLatin1Char('x')); wh.size() == 2) {
    window.resize(wh[0].toInt(), wh[1].toInt());
  }
  window.show();
  Settle(300);
  for (const ModuleInfo& m : ModuleTable()) {
    window.ShowModule(m.buttonId);
    QApplication::processEvents();
    window.grab().save(out.filePath(QStringLiteral("pane-%1.png").arg(m.buttonId)));
  }

  CaptureFilter filter;
  CaptureFilterDialog filterDialog(&window, filter);
  GrabShown(out, QStringLiteral("dialog-filter"), &filterDialog);
  SendDialog sendDialog(&window, [](SendDialog&) {});
  GrabShown(out, QStringLiteral("dialog-send"), &sendDialog);
  GrabModal(out, QStringLiteral("dialog-text-popup"), [&] {
    ShowTextPopup(&window, QStringLiteral("Properties"),
                  "Local Address\t: 127.0.0.1:80\r\nRemote Address\t: 127.0.0.1:5000\r\n");
  });
  SetFileManagerAllowed(false);
  ShowFileProperties(&window, WindowHost().netstat().executableFile(uint32_t(getpid())));
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QLatin1String(kFilePropertiesWindowName) && w->isVisible()) {
      GrabShown(out, QStringLiteral("dialog-file-properties"), w);
    }
  }
  GrabModal(out, QStringLiteral("dialog-question"), [&] {
    MessageRequest question;
    question.owner = &window;
    question.caption = QStringLiteral("Pelorin - FlushDns");
    question.text = QStringLiteral("Flush The Local DNS Cache For This Adapter?");
    question.icon = MessageIcon::Question;
    question.buttons = MessageButtons::YesNo;
    ShowMessage(question);
  });
  window.shutdown();
  return 0;
}
