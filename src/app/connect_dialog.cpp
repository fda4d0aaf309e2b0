#include "app/connect_dialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>

#include "host/host.h"
#include "host/ssh_command.h"
#include "shell/controls.h"
#include "shell/dialog_units.h"
#include "shell/message_presenter.h"
#include "shell/module_table.h"
#include "shell/ui_thread.h"

namespace {

// A line of the recent file longer than any destination is no destination.
constexpr qint64 kRecentLineLimit = 1024;

HostWindowStarter& Starter() {
  static HostWindowStarter starter;
  return starter;
}

}  // namespace

QStringList WithRecentHost(const QStringList& recent, const QString& destination) {
  QStringList list{destination};
  for (const QString& host : recent) {
    if (host != destination && list.size() < kRecentHostLimit) list.append(host);
  }
  return list;
}

QString RecentHostsFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/pelorin/recent-hosts");
}

QStringList ReadRecentHosts(const QString& file) {
  QFile in(file);
  QStringList recent;
  if (!in.open(QIODevice::ReadOnly)) return recent;
  while (recent.size() < kRecentHostLimit && !in.atEnd()) {
    const QByteArray line = in.readLine(kRecentLineLimit).trimmed();
    // Only what could be connected to again is offered.
    if (ParseSshDestination(line.toStdString())) recent.append(QString::fromUtf8(line));
  }
  return recent;
}

void WriteRecentHosts(const QString& file, const QStringList& recent) {
  QDir().mkpath(QFileInfo(file).path());
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly)) return;
  for (const QString& host : recent) out.write(host.toUtf8() + '\n');
  out.commit();
}

ConnectDialog::ConnectDialog(QWidget* owner, const QStringList& recent) : QDialog(owner) {
  setWindowTitle(QStringLiteral("Connect To Host"));
  setFont(DialogFont());
  setModal(true);
  const DialogUnits& dlu = Dlu();
  setFixedSize(dlu.x(220), dlu.y(62));

  auto* label =
      new QLabel(QStringLiteral("&Host ([user@]host[:port] or a Host of ~/.ssh/config):"), this);
  label->setGeometry(dlu.rect(7, 7, 206, 10));
  host_ = new QComboBox(this);
  SetControlId(host_, kConnectHostId);
  host_->setEditable(true);
  host_->setInsertPolicy(QComboBox::NoInsert);
  host_->addItems(recent);
  host_->setGeometry(dlu.rect(7, 19, 206, 14));
  host_->setAccessibleName(QStringLiteral("Host"));
  label->setBuddy(host_);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  SetControlId(ok, kConnectOkId);
  ok->setGeometry(dlu.rect(109, 41, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] { takeDestination(); });
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  SetControlId(cancel, kConnectCancelId);
  cancel->setGeometry(dlu.rect(163, 41, 50, 14));
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  host_->setFocus();
  host_->lineEdit()->selectAll();
}

void ConnectDialog::takeDestination() {
  const QString text = host_->currentText().trimmed();
  if (!ParseSshDestination(text.toStdString())) {
    ShowError(this, "'%s' is not a destination ssh takes ([user@]host[:port]).",
              text.toUtf8().constData());
    host_->setFocus();
    return;
  }
  destination_ = text;
  accept();
}

QString AskForHost(QWidget* owner) {
  const QString file = RecentHostsFile();
  ConnectDialog dialog(owner, ReadRecentHosts(file));
  if (dialog.exec() != QDialog::Accepted) return QString();
  // Read again: another window may have added its destination while this dialog was open.
  WriteRecentHosts(file, WithRecentHost(ReadRecentHosts(file), dialog.destination()));
  return dialog.destination();
}

void SetHostWindowStarter(HostWindowStarter starter) {
  Starter() = std::move(starter);
}

bool StartHostWindow(const QString& destination) {
  if (Starter()) return Starter()(destination);
  return QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                 {QStringLiteral("--host"), destination});
}

void ConnectToHost(QWidget* window) {
  const QString destination = AskForHost(window);
  if (!destination.isEmpty() && !StartHostWindow(destination)) {
    ShowError(window, "Failed To Start Pelorin For %s!", destination.toUtf8().constData());
  }
}

void OfferToConnectAgainWhenLost(Host& host, const QString& destination) {
  host.onConnectionLost([destination](const std::string& why) {
    PostToUiThread(
        [destination, why] { OfferToConnectAgain(destination, QString::fromStdString(why)); });
  });
}

void OfferToConnectAgain(const QString& destination, const QString& why) {
  MessageRequest request;
  request.caption = QString::fromLatin1(kPlainCaption);
  request.text = why + QStringLiteral("\n\nConnect to %1 again?").arg(destination);
  request.icon = MessageIcon::Warning;
  request.buttons = MessageButtons::YesNo;
  if (ShowMessage(request) == MessageAnswer::Yes && !StartHostWindow(destination)) {
    ShowError(nullptr, "Failed To Start Pelorin For %s!", destination.toUtf8().constData());
  }
}
