#include "sockets/terminal_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "shell/controls.h"
#include "shell/module_pane.h"
#include "shell/output.h"
#include "shell/payload_display.h"
#include "shell/ui_thread.h"
#include "sockets/send_dialog.h"
#include "sockets/socket_service.h"

void FillLocalAddressBox(QComboBox* box, SocketService& host, std::function<void()> filled) {
  CallOffUiThread(
      box, [host = &host] { return host->localAddresses(); },
      [box, filled = std::move(filled)](const std::vector<IpAddress>& addresses) {
        QStringList items;
        items.reserve(qsizetype(addresses.size()));
        for (const IpAddress& address : addresses) items += QString::fromStdString(address.text());
        box->addItems(items);  // one insertion for the whole list
        box->setCurrentIndex(box->count() > 0 ? 0 : -1);
        filled();
      });
}

QGroupBox* AddGroup(ModulePane* pane, const char* title, int x, int y, int width, int height,
                    Follow follow) {
  auto* group = new QGroupBox(QString::fromLatin1(title), pane);
  pane->place(group, x, y, width, height, follow);
  return group;
}

QPushButton* AddRowButton(ModulePane* pane, const char* text, int id, int x) {
  auto* button = new QPushButton(QString::fromLatin1(text), pane);
  SetControlId(button, id);
  pane->place(button, x, 46, 50, 14);
  QObject::connect(button, &QPushButton::clicked, pane, [pane, id] { pane->command(id); });
  return button;
}

void AddPortEdit(ModulePane* pane, QGroupBox* group, int id, int x, int width, Follow follow) {
  auto* edit = new QLineEdit(pane);
  SetControlId(edit, id);
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
  pane->place(edit, x, 15, width, 12, follow);
  PutInGroup(edit, group);
}

void AddEchoDisplayAndOutput(ModulePane* pane, int echoX) {
  auto* echo = new QCheckBox(QStringLiteral("Echo Local"), pane);
  SetControlId(echo, kEchoLocalId);
  pane->place(echo, echoX, 48, 58, 10);

  QGroupBox* group = AddGroup(pane, "Display :", 291, 36, 90, 30, kMoveRight);
  auto* display = new QComboBox(pane);
  SetControlId(display, kDisplaySelectorId);
  pane->place(display, 297, 49, 78, 12, kMoveRight);
  PutInGroup(display, group);
  FillDisplaySelector(display, 4);

  MakeOutputPane(pane, kOutputPaneId, QRect(7, 72, 374, 191), true, OutputScrollBars::Both, true);
}
