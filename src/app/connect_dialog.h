#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

class QComboBox;

// Control ids of the Connect To Host dialog.
inline constexpr int kConnectHostId = 1201;
inline constexpr int kConnectOkId = 1;
inline constexpr int kConnectCancelId = 2;

// The destinations connected to last, newest first: at most this many, none twice.
inline constexpr int kRecentHostLimit = 10;
QStringList WithRecentHost(const QStringList& recent, const QString& destination);

// This user's recent destinations, one per line in pelorin/recent-hosts of the configuration
// folder ($XDG_CONFIG_HOME, else ~/.config); lines that are no destination are left out, a
// missing file gives none. Saving is silent about failures.
QString RecentHostsFile();
QStringList ReadRecentHosts(const QString& file);
void WriteRecentHosts(const QString& file, const QStringList& recent);

// Asks for a destination as ssh takes it ([user@]host[:port] or a Host alias of the user's ssh
// configuration), the recent ones offered. OK with a destination ssh could not take shows why
// and keeps the dialog open.
class ConnectDialog : public QDialog {
  Q_OBJECT

 public:
  ConnectDialog(QWidget* owner, const QStringList& recent);

  // After OK: the destination as typed, without surrounding blanks.
  QString destination() const { return destination_; }

 private:
  void takeDestination();

  QComboBox* host_;
  QString destination_;
};

// File > Connect To Host... (and pelorin --connect without a window): the dialog, then the
// recent list with the new destination first; the destination, or empty after Cancel.
QString AskForHost(QWidget* owner);

// A window on a host reached with ssh: when the connection is lost, the window says why and
// offers to connect again, in a window of its own (this one keeps what it shows).
class Host;
void OfferToConnectAgainWhenLost(Host& host, const QString& destination);
void OfferToConnectAgain(const QString& destination, const QString& why);

// Starts another Pelorin for the destination: `pelorin --host DEST`. Tests replace the starter;
// an empty one restores the real start. The real one returns false when nothing started.
using HostWindowStarter = std::function<bool(const QString& destination)>;
void SetHostWindowStarter(HostWindowStarter starter);
bool StartHostWindow(const QString& destination);
