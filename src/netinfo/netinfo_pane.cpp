#include "netinfo/netinfo_pane.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <new>
#include <type_traits>
#include <utility>

#include "shell/controls.h"
#include "shell/message_presenter.h"
#include "shell/output.h"
#include "shell/ui_thread.h"

namespace {

constexpr const char* kAdaptersFailed = "Failed To Get Adapters Info!";

QLabel* AddLabel(ModulePane* pane, const char* text, int x, int y, int width, int height,
                 Follow follow) {
  auto* label = new QLabel(QString::fromLatin1(text), pane);
  label->setTextFormat(Qt::PlainText);  // a host or domain name is never markup
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  pane->place(label, x, y, width, height, follow);
  return label;
}

// A sunken, bordered value field of the statistics under its label, which names it for the
// accessibility interface while the field's own text stays its value. The statistics keep to
// the pane's right edge.
void AddValueField(ModulePane* pane, const char* label, int labelY, int id, Qt::Alignment alignment,
                   int x, int y) {
  auto* field = new QLabel(pane);
  SetControlId(field, id);
  field->setTextFormat(Qt::PlainText);
  field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  field->setAlignment(alignment | Qt::AlignVCenter);
  pane->place(field, x, y, 110, 11, kMoveRight);
  AddLabel(pane, label, 264, labelY, 62, 8, kMoveRight)->setBuddy(field);
}

QPushButton* AddButton(ModulePane* pane, const char* text, int id) {
  auto* button = new QPushButton(QString::fromLatin1(text), pane);
  SetControlId(button, id);
  QObject::connect(button, &QPushButton::clicked, pane, [pane, id] { pane->command(id); });
  return button;
}

}  // namespace

NetInfoPane::NetInfoPane(QWidget* mainWindow, NetInfoService& host)
    : ModulePane(mainWindow), host_(host) {
  buildControls();
  ShowNetworkParams();
  command(kNetInfoRefreshId);  // fills the adapter list
  timer_ = new QTimer(this);
  timer_->setInterval(kStatisticsPeriodMs);
  connect(timer_, &QTimer::timeout, this, [this] { UpdateStatistics(); });
  timer_->start();
}

void NetInfoPane::buildControls() {
  // The frames first, so the controls inside lie on top of them.
  // The adapter's information takes the room the pane has beyond its size.
  const auto group = [this](const char* title, int x, int y, int w, int h, Follow follow) {
    auto* box = new QGroupBox(QString::fromLatin1(title), this);
    place(box, x, y, w, h, follow);
    return box;
  };
  group("Windows IP Configuration :", 7, 7, 374, 60, kGrowWidth);
  QGroupBox* adapterGroup = group("Network Adapters :", 7, 76, 374, 187, kGrowBoth);
  group("Information :", 17, 111, 238, 143, kGrowBoth);
  group("Statistics :", 254, 111, 127, 118, kMoveRight);

  SetControlId(AddLabel(this, "#ipconfig#", 16, 19, 355, 45, kGrowWidth), kNetworkParamsId);
  AddValueField(this, "Status :", 124, kAdapterStatusId, Qt::AlignHCenter, 263, 134);
  AddValueField(this, "Speed :", 149, kAdapterSpeedId, Qt::AlignRight, 264, 159);
  AddValueField(this, "Received :", 175, kAdapterReceivedId, Qt::AlignRight, 263, 184);
  AddValueField(this, "Sent :", 200, kAdapterSentId, Qt::AlignRight, 263, 209);

  // The focusable controls in their Tab order, as they read: the list, then its button.
  adapters_ = new QComboBox(this);
  SetControlId(adapters_, kAdapterListId);
  place(adapters_, 16, 90, 307, 12, kGrowWidth);
  PutInGroup(adapters_, adapterGroup);
  connect(adapters_, &QComboBox::currentIndexChanged, this, [this] { command(kAdapterListId); });

  QPushButton* refresh = AddButton(this, "Refresh", kNetInfoRefreshId);
  refresh->setDefault(true);
  place(refresh, 328, 89, 46, 14, kMoveRight);

  QPlainTextEdit* info = MakeOutputPane(this, kOutputPaneId, QRect(23, 121, 226, 128), true,
                                        OutputScrollBars::None, false);
  info->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);  // the double border
  NameAfterLabel(info, QStringLiteral("Information :"));

  place(AddButton(this, "Flush DNS Cache...", kFlushCacheId), 274, 236, 82, 16, kMoveRight);
}

void NetInfoPane::command(int id) {
  try {
    if (id == kNetInfoRefreshId) FillAdapterList();
    if (id == kAdapterListId) ShowAdapterInfo();  // the user chose another adapter
    if (id == kFlushCacheId) FlushAdapterCache();
  } catch (const std::bad_alloc&) {
    ShowError(this, "Memory Allocation Error!");
  }
}

void NetInfoPane::closeModule() {
  timer_->stop();
  readAgain_ = false;
  StartDetached([&host = host_] { host.endStatistics(); });
}

template <typename Work, typename Done>
void NetInfoPane::Ask(Work work, Done done) {
  using Result = std::invoke_result_t<Work>;
  ++pending_;
  CallOffUiThread(
      this,
      [work = std::move(work)]() mutable -> std::optional<Result> {
        try {
          return work();
        } catch (const std::bad_alloc&) {
          return std::nullopt;
        }
      },
      [this, done = std::move(done)](const std::optional<Result>& result) {
        --pending_;
        try {
          if (!result) throw std::bad_alloc();
          done(*result);
        } catch (const std::bad_alloc&) {
          ShowError(this, "Memory Allocation Error!");
        }
      });
}

int NetInfoPane::chosenIndex() const {
  const int item = adapters_->currentIndex();
  return item < 0 ? 0 : adapters_->itemData(item).toInt();
}

void NetInfoPane::ShowNetworkParams() {
  Ask([&host = host_] { return host.networkParams(); },
      [this](const NetworkParams& params) {
        SetControlText(this, kNetworkParamsId, QString::fromUtf8(FormatNetworkParams(params)));
      });
}

void NetInfoPane::FillAdapterList() {
  const unsigned request = ++listRequest_;
  Ask([&host = host_] { return host.adapters(); },
      [this, request](const std::optional<std::vector<AdapterRecord>>& list) {
        if (request != listRequest_) return;  // a later Refresh's list follows
        {
          // Filling the list is no choice of the user's: the information follows once, below.
          const QSignalBlocker quiet(adapters_);
          adapters_->clear();
          if (list) {
            for (const AdapterRecord& adapter : *list) {
              adapters_->addItem(QString::fromUtf8(adapter.name), adapter.index);
            }
          }
          adapters_->setCurrentIndex(adapters_->count() > 0 ? 0 : -1);
        }
        if (!list) {
          ShowError(this, "%s", kAdaptersFailed);
          return;
        }
        ShowAdapterInfo(list);
      });
}

// What the information pane shows of an adapter, as the host told it.
struct NetInfoPane::AdapterFacts {
  bool listRead = false;
  std::optional<AdapterRecord> adapter;  // none when the list does not hold it (any more)
  std::optional<std::vector<std::string>> dnsServers;
  std::optional<DhcpLease> lease;
};

void NetInfoPane::ShowAdapterInfo(std::optional<std::vector<AdapterRecord>> adapters) {
  const int index = chosenIndex();
  if (index == 0) return;
  const unsigned request = ++infoRequest_;
  Ask(
      [&host = host_, index, adapters = std::move(adapters)]() mutable {
        AdapterFacts facts;
        if (!adapters) adapters = host.adapters();
        if (!adapters) return facts;
        facts.listRead = true;
        for (const AdapterRecord& candidate : *adapters) {
          if (candidate.index == index) facts.adapter = candidate;
        }
        if (!facts.adapter) return facts;
        facts.dnsServers = host.dnsServers();
        facts.lease = host.dhcpLease(*facts.adapter);
        return facts;
      },
      [this, index, request](const AdapterFacts& facts) {
        if (request == infoRequest_) ShowFacts(index, facts);  // else another adapter's follow
      });
}

void NetInfoPane::ShowFacts(int index, const AdapterFacts& facts) {
  if (!facts.listRead) {
    ShowError(this, "%s", kAdaptersFailed);
    return;
  }
  // An adapter gone since the list was filled: the pane keeps its facts if they are its own.
  if (!facts.adapter && infoIndex_ == index) return;
  infoIndex_ = index;
  SetControlText(this, kOutputPaneId, QString());
  if (!facts.adapter) return;
  AppendOutput(this, kOutputPaneId,
               FormatAdapterInfo(*facts.adapter, facts.lease, facts.dnsServers));
  // The pane has no scroll bars: its view starts at the first line, whatever the font's size.
  FindControl<QPlainTextEdit>(this, kOutputPaneId)->moveCursor(QTextCursor::Start);
}

void NetInfoPane::UpdateStatistics() {
  if (reading_) {
    readAgain_ = true;  // after the reading that is out, which may be older than the caller
    return;
  }
  const int index = chosenIndex();
  if (index == 0) return;
  reading_ = true;
  CallOffUiThread(
      this,
      [&host = host_, index, name = adapters_->currentText().toStdString()] {
        return host.statistics(index, name);
      },
      [this, index](const std::optional<InterfaceStatistics>& reading) {
        reading_ = false;
        ShowStatistics(index, reading);
        if (readAgain_) {
          readAgain_ = false;
          UpdateStatistics();
        }
      });
}

void NetInfoPane::ShowStatistics(int index, const std::optional<InterfaceStatistics>& reading) {
  if (index != chosenIndex()) return;  // another adapter was chosen meanwhile
  StatisticsTexts texts;
  if (reading) {
    texts = FormatStatistics(*reading);
  } else if (statisticsIndex_ == index) {
    return;  // its last values stay while it cannot be read
  }
  statisticsIndex_ = index;
  SetControlText(this, kAdapterStatusId, QString::fromLatin1(texts.status));
  SetControlText(this, kAdapterSpeedId, QString::fromLatin1(texts.speed));
  SetControlText(this, kAdapterReceivedId, QString::fromLatin1(texts.received));
  SetControlText(this, kAdapterSentId, QString::fromLatin1(texts.sent));
}

void NetInfoPane::FlushAdapterCache() {
  const int index = chosenIndex();
  if (index == 0) return;
  MessageRequest question;
  question.owner = this;
  question.caption = QStringLiteral("Pelorin - FlushDns");
  question.text = QStringLiteral("Flush The Local DNS Cache For This Adapter?");
  question.icon = MessageIcon::Question;
  question.buttons = MessageButtons::YesNo;
  if (ShowMessage(question) != MessageAnswer::Yes) return;
  Ask([&host = host_, index] { return host.flushNeighbours(index); },
      [this](int error) { ShowFlushed(error); });
}

void NetInfoPane::ShowFlushed(int error) {
  if (error != 0) {
    ShowError(this, "Failed To Flush DNS Cache!");
    return;
  }
  MessageRequest done;
  done.owner = this;
  done.caption = QStringLiteral("Pelorin - FlushDNS");
  done.text = QStringLiteral("DNS Cache Successfully Flushed!");
  done.icon = MessageIcon::Information;
  ShowMessage(done);
}
