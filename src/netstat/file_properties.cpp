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

// The owner's, the group's and the others' read, write and execute bits.
QString PermissionText(uint32_t mode) {
  QString text;
  for (int shift = 6; shift >= 0; shift -= 3) {
    text += (mode >> shift) & 4 ? u'r' : u'-';
    text += (mode >> shift) & 2 ? u'w' : u'-';
    text += (mode >> shift) & 1 ? u'x' : u'-';
  }
  return text;
}

// Its type as the file's name and first bytes tell it; by its name alone when it could not be
// read.
QString TypeText(const QString& path, const ExecutableFile& facts) {
  const QMimeDatabase types;
  if (!facts.contentRead) {
    return types.mimeTypeForFile(path, QMimeDatabase::MatchExtension).comment();
  }
  const QByteArray head(reinterpret_cast<const char*>(facts.head.data()),
                        qsizetype(facts.head.size()));
  return types.mimeTypeForFileNameAndData(path, head).comment();
}

// The program's own properties window: what the host's file system says about the file.
void ShowOwnProperties(QWidget* owner, const QFileInfo& file, const ExecutableFile& facts) {
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
  row("Type:", TypeText(file.absoluteFilePath(), facts));
  row("Size:", QString::fromStdString(GroupThousands(facts.size)) + QStringLiteral(" bytes"));
  row("Owner:", QString::fromLocal8Bit(facts.owner.data(), qsizetype(facts.owner.size())));
  row("Group:", QString::fromLocal8Bit(facts.group.data(), qsizetype(facts.group.size())));
  row("Permissions:", PermissionText(facts.mode));
  row("Modified:", QLocale::system().toString(QDateTime::fromMSecsSinceEpoch(facts.modifiedMs),
                                              QLocale::LongFormat));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  form->addRow(buttons);
  dialog->show();
}

}  // namespace

int ShowFileProperties(QWidget* owner, const std::optional<ExecutableFile>& facts) {
  if (!facts) return 0;  // no path, or a deleted executable: nothing to show
  // Its name and folder only: the path is the host's, never looked up here.
  const QFileInfo file(QString::fromLocal8Bit(facts->path.data(), qsizetype(facts->path.size())));
  if (!AskFileManager(file.absoluteFilePath())) ShowOwnProperties(owner, file, *facts);
  return 1;
}

void SetFileManagerAllowed(bool allowed) {
  g_fileManagerAllowed = allowed;
}
