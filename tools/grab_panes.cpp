// Renders the main window once per module, for looking at the panes' layouts:
//   build/default/tools/grab_panes OUT_DIR
#include <QApplication>
#include <QDir>
#include <QPixmap>

#include "shell/main_window.h"
#include "shell/module_table.h"
#include "shell/startup.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  PrepareApplication(app);
  const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  MainWindow window;
  window.show();
  for (const ModuleInfo& m : ModuleTable()) {
    window.ShowModule(m.buttonId);
    QApplication::processEvents();
    window.grab().save(out.filePath(QStringLiteral("pane-%1.png").arg(m.buttonId)));
  }
  window.shutdown();
  return 0;
}
