#pragma once

#include <memory>

#include "netstat/endpoint_table.h"
#include "shell/module_pane.h"
#include "sys/run_token.h"

class EndpointModel;
class NetstatService;
class QComboBox;
class QRadioButton;
class QTableView;
class QTimer;

// Control ids of the pane.
inline constexpr int kNetstatRefreshId = 1;
inline constexpr int kNetstatIntervalId = 1016;
inline constexpr int kNetstatShowAllId = 1022;
inline constexpr int kNetstatConnectedId = 1023;
inline constexpr int kNetstatTcpOnlyId = 1014;
inline constexpr int kNetstatUdpOnlyId = 1024;
inline constexpr int kNetstatListId = 1015;

// Commands of the list's context menu.
inline constexpr int kCmdConnectionProperties = 40012;
inline constexpr int kCmdFileProperties = 40021;
inline constexpr int kCmdKillConnection = 40019;
inline constexpr int kCmdTerminateProcess = 40018;
inline constexpr int kCmdSendToPing = 40015;
inline constexpr int kCmdSendToCapture = 40014;
inline constexpr int kCmdSendToDns = 40036;
inline constexpr int kCmdCopyList = 40032;
inline constexpr int kCmdCopyLine = 40033;
inline constexpr int kCmdCopyIp = 40034;

// The Netstat module: the system's TCP and UDP endpoints (IPv4 and IPv6) with their owners,
// filtered, sorted by a clicked column and refreshed on request or on a timer, with per-row
// commands in a context menu. The tables are gathered on a worker thread; the list shows one
// snapshot. The pane reaches its machine only through `service`: every call to it is made off the
// UI thread, and the pane shows what comes back when it comes.
class NetstatPane : public ModulePane {
  Q_OBJECT

 public:
  NetstatPane(QWidget* mainWindow, NetstatService& service);
  ~NetstatPane() override;

  void command(int id) override;
  void closeModule() override;

  // Gathers the tables anew and shows them: the rows that pass the filter, sorted, with the
  // same row index selected as before. A failure shows "Netstat Memory Allocation Error!" and
  // leaves the list as it was. Asked again while gathering, it gathers once more afterwards.
  void RefreshNetstat();
  bool refreshing() const { return build_ != nullptr; }
  // Whether a command's call to the host (File Properties, Kill Connection, Terminate Process)
  // is under way: its answer is still to be shown.
  bool acting() const { return acting_ > 0; }
  // What a refresh does once the tables are there.
  void showSnapshot(std::shared_ptr<const EndpointSnapshot> snapshot);

  EndpointModel* model() const { return model_; }
  QTableView* list() const { return list_; }
  // The row the commands act on: the current row of the list, or -1.
  int selectionMark() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void buildList();
  // The rows and columns for the list's text size: the described widths at the first size;
  // what a wider list has beyond them goes to the address columns, then to the last.
  void measureList();
  void fitColumns();
  void finishRefresh(const RunTokenPtr& token, std::shared_ptr<const EndpointSnapshot> snapshot);
  void setInterval(int seconds);
  void sortByColumn(int column);
  void showMenu(const QPoint& globalPos);
  void showMenuAtCurrentRow();  // the keyboard's way to the row menu
  EndpointFilter filter() const;
  // The record of the selected row, or null after the box `noRowText`.
  const EndpointRecord* selectedRecord(const char* noRowText);

  void showConnectionProperties();
  void showProcessFileProperties();
  void killConnection();
  void terminateProcess();
  void sendTo(int command);
  void copyList();
  // Makes `call` (which returns a value) off the UI thread and gives its result to `done` on the
  // UI thread, unless the pane was closed meanwhile.
  template <typename Call, typename Done>
  void callHost(Call call, Done done);

  NetstatService& service_;

  EndpointModel* model_ = nullptr;
  QTableView* list_ = nullptr;
  QComboBox* interval_ = nullptr;
  QRadioButton* radios_[4] = {};
  bool pressedChecked_ = false;  // the filter button being clicked was already chosen
  QTimer* timer_ = nullptr;
  QTimer* afterTerminate_ = nullptr;  // the refresh half a second after Terminate Process
  int sortColumn_ = kColumnProcess;
  bool sortAscending_ = false;
  RunTokenPtr build_;  // the gathering under way, or null
  bool refreshAgain_ = false;
  RunTokenPtr properties_;  // the Connection Properties text being gathered, or null
  RunTokenPtr actions_;     // the commands' calls under way; cancelled when the pane closes
  int acting_ = 0;          // how many of them
};
