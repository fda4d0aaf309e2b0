#include "netstat/file_properties.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QUrl>

#include "netstat/proc_text.h"
#include "shell/dialog_units.h"

namespace {

constexpr const char* kFileManager = "org.freedesktop.FileManager1";

bool g_fileManagerAllowed = true;

// Hands the file to the desktop's file manager when one is there or can be started; the call
// goes out without waiting for its answer.
bool AskFileManager(const QString& path) {
  if (!g_fileManagerAllowed) return false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  const QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
  if (daemon == nullptr) return false;
  const QString service = QString::fromLatin1(kFileManager);
  if (!daemon->isServiceRegistered(service).value() &&
      !daemon->activatableServiceNames().value().contains(service)) {
    return false;
  }
  QDBusMessage call =
      QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                     service, QStringLiteral("ShowItemProperties"));
  call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
  return bus.send(call);
}

QString PermissionText(QFile::Permissions p) {
  const std::pair<QFile::Permission, char> bits[] = {
      {QFile::ReadOwner, 'r'}, {QFile::WriteOwner, 'w'}, {QFile::ExeOwner, 'x'},
      {QFile::ReadGroup, 'r'}, {QFile::WriteGroup, 'w'}, {QFile::ExeGroup, 'x'},
      {QFile::ReadOther, 'r'}, {QFile::WriteOther, 'w'}, {QFile::ExeOther, 'x'}};
  QString text;
  for (const auto& [bit, letter] : bits) text += (p & bit) ? QChar::fromLatin1(letter) : u'-';
  return text;
}

// The program's own properties window: what the file system says about the file.
void ShowOwnProperties(QWidget* owner, const QFileInfo& file) {
  auto* dialog = new QDialog(owner);
  dialog->setObjectName(QString::fromLatin1(kFilePropertiesWindowName));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(file.fileName() + QStringLiteral(" Properties"));
  dialog->setFont(DialogFont());
  auto* form = new QFormLayout(dialog);
  const auto row = [&](const char* label, const QString& value) {
    auto* text = new QLabel(value, dialog);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text->setTextFormat(Qt::PlainText);
    form->addRow(QString::fromLatin1(label), text);
  };
  row("Name:", file.fileName());
  row("Location:", file.absolutePath());
  row("Type:", QMimeDatabase().mimeTypeForFile(file).comment());
  row("Size:",
      QString::fromStdString(GroupThousands(uint64_t(file.size()))) + QStringLiteral(" bytes"));
  row("Owner:", file.owner());
  row("Group:", file.group());
  row("Permissions:", PermissionText(file.permissions()));
  row("Modified:", QLocale::system().toString(file.lastModified(), QLocale::LongFormat));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  form->addRow(buttons);
  dialog->show();
}

}  // namespace

int ShowFileProperties(QWidget* owner, const std::optional<std::string>& path) {
  if (!path) return 0;
  const QFileInfo file(QString::fromLocal8Bit(path->data(), qsizetype(path->size())));
  if (!file.exists()) return 0;  // a deleted executable: nothing to show
  if (!AskFileManager(file.absoluteFilePath())) ShowOwnProperties(owner, file);
  return 1;
}

void SetFileManagerAllowed(bool allowed) {
  g_fileManagerAllowed = allowed;
}
