#include "shell/placeholder_pane.h"

#include <QLabel>

ModulePane* CreatePlaceholderPane(QWidget* mainWindow, const char* moduleName) {
  auto* pane = new ModulePane(mainWindow);
  auto* label = new QLabel(QString::fromLatin1(moduleName), pane);
  label->setAlignment(Qt::AlignCenter);
  label->setGeometry(pane->contentsRect());
  return pane;
}
