#include "shell/help_window.h"

#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

void OpenHelp() {
  static QPointer<QTextBrowser> window;
  if (window.isNull()) {
    window = new QTextBrowser;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Pelorin Help"));
    window->setOpenExternalLinks(true);
    window->setSource(QUrl(QStringLiteral("qrc:/help/help.html")));
    window->resize(720, 640);
  }
  window->show();
  window->raise();
  window->activateWindow();
}
