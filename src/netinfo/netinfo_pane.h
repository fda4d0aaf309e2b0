#pragma once

#include <optional>
#include <vector>

#include "netinfo/netinfo_service.h"
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
// Everything is read from the host each time it is shown, off the UI thread: each text is shown
// when its answer comes, and an answer that a later request has made stale is dropped.
class NetInfoPane : public ModulePane {
  Q_OBJECT

 public:
  NetInfoPane(QWidget* mainWindow, NetInfoService& host);

  void command(int id) override;
  void closeModule() override;

  // The statistics timer's work: reads the chosen adapter's statistics and shows their four
  // texts when the reading comes. While a reading is out, one more follows it.
  void UpdateStatistics();

  // Whether an answer is awaited (for tests): the parameters, the list, an adapter's facts or a
  // flush, and a statistics reading.
  bool busy() const { return pending_ > 0; }
  bool readingStatistics() const { return reading_ || readAgain_; }

 private:
  struct AdapterFacts;

  void buildControls();
  void ShowNetworkParams();
  void FillAdapterList();
  // Shows the chosen adapter's facts out of `adapters` when given (a list just read), else out
  // of the host's list read afresh.
  void ShowAdapterInfo(std::optional<std::vector<AdapterRecord>> adapters = std::nullopt);
  void ShowFacts(int index, const AdapterFacts& facts);
  void ShowStatistics(int index, const std::optional<InterfaceStatistics>& reading);
  void FlushAdapterCache();
  void ShowFlushed(int error);
  // The chosen adapter's index, or 0 when none is chosen.
  int chosenIndex() const;
  // Runs `work` off the UI thread and `done` with its result here, counted in busy(); a memory
  // shortage on either side shows its message instead.
  template <typename Work, typename Done>
  void Ask(Work work, Done done);

  NetInfoService& host_;
  QComboBox* adapters_ = nullptr;
  QTimer* timer_ = nullptr;
  // The adapters whose facts the information pane and the statistics show (0: none yet), so an
  // adapter that cannot be read keeps its own last facts but never shows another's.
  int infoIndex_ = 0;
  int statisticsIndex_ = 0;
  // The latest list and facts requests: an answer to an earlier one is stale.
  unsigned listRequest_ = 0;
  unsigned infoRequest_ = 0;
  int pending_ = 0;
  bool reading_ = false;
  bool readAgain_ = false;
};
