#pragma once

#include "netinfo/netinfo_system.h"
#include "shell/module_pane.h"

class QComboBox;
class QTimer;

// Control ids of the NetInfo pane.
inline constexpr int kNetInfoRefreshId = 1;
inline constexpr int kNetworkParamsId = 1079;
inline constexpr int kAdapterListId = 1080;
inline constexpr int kAdapterStatusId = 1081;
inline constexpr int kAdapterReceivedId = 1082;
inline constexpr int kAdapterSentId = 1083;
inline constexpr int kFlushCacheId = 1084;
inline constexpr int kAdapterSpeedId = 1085;

inline constexpr int kStatisticsPeriodMs = 100;

// The NetInfo module: the network parameters, a list of the adapters, the configuration of the
// chosen one and its statistics, refreshed ten times a second whether the pane is shown or not.
// Everything runs on the UI thread and is read from the system each time it is shown.
class NetInfoPane : public ModulePane {
  Q_OBJECT

 public:
  explicit NetInfoPane(QWidget* mainWindow, NetInfoSources sources = {});

  void command(int id) override;
  void closeModule() override;

  // The statistics timer's work: the chosen adapter's four statistics texts.
  void UpdateStatistics();

 private:
  void buildControls();
  void ShowNetworkParams();
  void FillAdapterList();
  // Shows the chosen adapter's facts out of `adapters` when given (a list just read), else out
  // of the system's list read afresh.
  void ShowAdapterInfo(const std::vector<AdapterRecord>* adapters = nullptr);
  void FlushAdapterCache();
  // The chosen adapter's index, or 0 when none is chosen.
  int chosenIndex() const;

  NetInfoSources sources_;
  InterfaceStatsReader statistics_;
  QComboBox* adapters_ = nullptr;
  QTimer* timer_ = nullptr;
  // The adapters whose facts the information pane and the statistics show (0: none yet), so an
  // adapter that cannot be read keeps its own last facts but never shows another's.
  int infoIndex_ = 0;
  int statisticsIndex_ = 0;
};

ModulePane* CreateNetInfoPane(QWidget* mainWindow);
