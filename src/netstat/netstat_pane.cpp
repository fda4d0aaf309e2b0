#include "netstat/netstat_pane.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <new>
#include <utility>

#include "capture/capture_pane.h"
#include "dns/dns_pane.h"
#include "netstat/endpoint_model.h"
#include "netstat/file_properties.h"
#include "netstat/netstat_actions.h"
#include "netstat/netstat_service.h"
#include "netstat/proc_text.h"
#include "netstat/text_popup.h"
#include "ping/ping_pane.h"
#include "shell/controls.h"
#include "shell/message_presenter.h"
#include "shell/output.h"
#include "shell/output_menu.h"
#include "shell/output_text_size.h"
#include "shell/ui_thread.h"
#include "shell/worker_thread.h"

namespace {

constexpr const char* kNoItem = "No Item Selected!";
constexpr const char* kNoConnection = "No Connection Selected!";
constexpr int kColumnWidths[kEndpointColumns] = {150, 40, 120, 120, 100};  // pixels
// The widest text of an address column: a wider window gives the address columns room up to it.
constexpr const char* kWidestAddress = "[ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255]:65535";
constexpr const char* kIntervals[] = {"Manual",    "1 Second",  "2 Seconds",
                                      "3 Seconds", "4 Seconds", "5 Seconds"};
// A process that was just sent SIGKILL is given this long to be gone before the list is
// gathered again.
constexpr int kAfterTerminateMs = 500;

struct MenuEntry {
  const char* text;  // nullptr: separator
  int command;
};

const MenuEntry kSendToEntries[] = {{"Ping / Traceroute Remote Address...", kCmdSendToPing},
                                    {"Packet Capture...", kCmdSendToCapture},
                                    {"DNS...", kCmdSendToDns}};
const MenuEntry kCopyEntries[] = {
    {"Copy List", kCmdCopyList}, {"Copy Line", kCmdCopyLine}, {"Copy IP", kCmdCopyIp}};

void AddEntries(QMenu* menu, std::initializer_list<MenuEntry> entries) {
  for (const MenuEntry& e : entries) {
    if (e.text == nullptr) {
      menu->addSeparator();
    } else {
      menu->addAction(QString::fromLatin1(e.text))->setData(e.command);
    }
  }
}

void AddSubmenu(QMenu* menu, const char* title, const MenuEntry (&entries)[3]) {
  QMenu* sub = menu->addMenu(QString::fromLatin1(title));
  AddEntries(sub, {entries[0], entries[1], entries[2]});
}

// The width a cell needs to show `text` whole, measured as the view measures its cells.
int CellWidthFor(const QTableView* list, const char* text) {
  QStyleOptionViewItem option;
  option.initFrom(list);
  option.font = list->font();
  option.fontMetrics = list->fontMetrics();
  option.features = QStyleOptionViewItem::HasDisplay;
  option.text = QString::fromUtf8(text);
  option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
  const QSize size =
      list->style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), list);
  return size.width() + (list->showGrid() ? 1 : 0);
}

// The described width of a column at the list's text size (a larger text widens them alike);
// State is as wide as its longest name.
int ColumnWidth(const QTableView* list, int column) {
  const int points = list->font().pointSize() > 0 ? list->font().pointSize() : kDescribedTextSize;
  int width = kColumnWidths[column] * points / kDescribedTextSize;
  if (column == kColumnState) {
    for (uint32_t state = 0; state <= kTcpDeleteTcb; ++state) {
      width = std::max(width, CellWidthFor(list, TcpStateName(state)));
    }
  }
  return width;
}

// A cell of the list whose text does not fit its column, which the view shows elided.
bool IsElided(const QTableView* list, const QModelIndex& index) {
  const QByteArray text = index.data().toString().toUtf8();
  return CellWidthFor(list, text.constData()) > list->columnWidth(index.column());
}

// The lookups of Connection Properties, asked of the host (on a worker); a name lookup ends at
// once when the run is cancelled.
PropertyLookups HostPropertyLookups(NetstatService& service, const RunToken* token) {
  return PropertyLookups{
      [&service, token](const std::string& address) -> std::optional<std::string> {
        char name[kInputCapacity];
        if (service.resolveHost(address.c_str(), name, sizeof name, token) == 0) {
          return std::nullopt;
        }
        return std::string(name);
      },
      [&service](uint16_t port, bool udp) { return service.serviceName(port, udp); },
      [&service](uint32_t pid, bool imagePath, char* buffer, size_t capacity) {
        const ProcessText answer = service.processText(pid, imagePath, capacity);
        if (answer.result >= 0) CopyBounded(answer.text, buffer, capacity);
        return answer.result;
      },
      [&service](uint32_t pid) { return service.workingSet(pid); }};
}

void Ask(QWidget* owner, const char* text, MessageIcon icon, MessageButtons buttons,
         MessageAnswer* answer) {
  MessageRequest request;
  request.owner = owner;
  request.caption = QString::fromLatin1(kPlainCaption);
  request.text = QString::fromLatin1(text);
  request.icon = icon;
  request.buttons = buttons;
  const MessageAnswer a = ShowMessage(request);
  if (answer) *answer = a;
}

bool Confirmed(QWidget* owner, const char* question) {
  MessageAnswer answer = MessageAnswer::No;
  Ask(owner, question, MessageIcon::Warning, MessageButtons::YesNo, &answer);
  return answer == MessageAnswer::Yes;
}

bool SameEndpoint(const EndpointRecord* a, const EndpointRecord& b) {
  return a != nullptr && a->protocol == b.protocol && LocalAddressOf(*a) == LocalAddressOf(b) &&
         a->localPort == b.localPort && RemoteAddressOf(*a) == RemoteAddressOf(b) &&
         a->remotePort == b.remotePort;
}

}  // namespace

template <typename Call, typename Done>
void NetstatPane::callHost(Call call, Done done) {
  ++acting_;
  CallOffUiThread(this, std::move(call),
                  [this, token = actions_, done = std::move(done)](const auto& result) {
                    if (token->cancelled()) return;  // closed meanwhile
                    --acting_;
                    done(result);
                  });
}

NetstatPane::NetstatPane(QWidget* mainWindow, NetstatService& service)
    : ModulePane(mainWindow), service_(service), actions_(NewRunToken()) {
  buildControls();
  RefreshNetstat();
}

NetstatPane::~NetstatPane() {
  closeModule();
}

void NetstatPane::buildControls() {
  interval_ = new QComboBox(this);
  SetControlId(interval_, kNetstatIntervalId);
  // Unlabelled: on Linux a combo box's name is its value, so the description tells what it is.
  interval_->setAccessibleName(QStringLiteral("Refresh Interval"));
  interval_->setAccessibleDescription(QStringLiteral("Refresh Interval"));
  for (const char* text : kIntervals) interval_->addItem(QString::fromLatin1(text));
  place(interval_, 7, 5, 66, 13);
  connect(interval_, &QComboBox::currentIndexChanged, this,
          [this] { command(kNetstatIntervalId); });

  auto* refreshButton = new QPushButton(QStringLiteral("Refresh"), this);
  SetControlId(refreshButton, kNetstatRefreshId);
  refreshButton->setDefault(true);
  place(refreshButton, 77, 4, 42, 14);
  connect(refreshButton, &QPushButton::clicked, this, [this] { command(kNetstatRefreshId); });

  const struct {
    const char* text;
    int id;
    int x;
  } radios[] = {{"Show All", kNetstatShowAllId, 125},
                {"Show Connected", kNetstatConnectedId, 170},
                {"TCP Only", kNetstatTcpOnlyId, 241},
                {"UDP Only", kNetstatUdpOnlyId, 290}};
  // Each button takes the room up to the next one (the last up to the list's right edge): this
  // style's indicator is wider than the layout's units allow for, and a cut label would hide
  // which filter it is.
  for (size_t i = 0; i < std::size(radios); ++i) {
    auto* radio = new QRadioButton(QString::fromLatin1(radios[i].text), this);
    SetControlId(radio, radios[i].id);
    const int end = i + 1 < std::size(radios) ? radios[i + 1].x : 381;
    place(radio, radios[i].x, 4, end - radios[i].x - 1, 16);
    radio->setChecked(i == 0);  // before its signals are connected: the first refresh is below
    // A new filter refreshes once however it was chosen (a click, an arrow key, the accessible
    // toggle action); a click on the filter already chosen refreshes as well.
    const int id = radios[i].id;
    connect(radio, &QRadioButton::pressed, this,
            [this, radio] { pressedChecked_ = radio->isChecked(); });
    connect(radio, &QRadioButton::toggled, this, [this, id](bool checked) {
      if (checked) command(id);
    });
    connect(radio, &QRadioButton::clicked, this, [this, id] {
      if (std::exchange(pressedChecked_, false)) command(id);
    });
    radios_[i] = radio;
  }

  buildList();
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, [this] { RefreshNetstat(); });
  afterTerminate_ = new QTimer(this);
  afterTerminate_->setSingleShot(true);
  afterTerminate_->setInterval(kAfterTerminateMs);
  connect(afterTerminate_, &QTimer::timeout, this, [this] { RefreshNetstat(); });
}

void NetstatPane::buildList() {
  model_ = new EndpointModel(this);
  list_ = new QTableView(this);
  SetControlId(list_, kNetstatListId);
  list_->setAccessibleName(QStringLiteral("Endpoints"));
  list_->setModel(model_);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setShowGrid(true);
  list_->setWordWrap(false);
  list_->setTabKeyNavigation(false);
  list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  // Rows of one fixed height: the view then never measures its tens of thousands of rows.
  QHeaderView* rows = list_->verticalHeader();
  rows->hide();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  QHeaderView* columns = list_->horizontalHeader();
  columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  columns->setHighlightSections(false);
  columns->setSectionsClickable(true);
  columns->setStretchLastSection(false);
  measureList();
  FollowOutputTextSize(list_, [this] { measureList(); });
  connect(columns, &QHeaderView::sectionClicked, this, [this](int c) { sortByColumn(c); });
  // The titles never take the focus, so the keyboard has its own way to them, anywhere in the
  // pane: Ctrl+1 for the first column to Ctrl+5 for the last.
  for (int c = 0; c < kEndpointColumns; ++c) {
    auto* key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + c)), this);
    key->setContext(Qt::WidgetWithChildrenShortcut);
    connect(key, &QShortcut::activated, this, [this, c] { sortByColumn(c); });
  }
  const QString sortHint =
      QStringLiteral("Click a column title, or press Ctrl+1 to Ctrl+5, to sort by that column");
  columns->setToolTip(sortHint);
  list_->setAccessibleDescription(sortHint);
  connect(list_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) command(kCmdConnectionProperties);
  });
  // The commands act on the current row: a row selected otherwise (through the accessibility
  // interface) becomes the current one.
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected) {
            if (selected.isEmpty()) return;
            const QModelIndex first = selected.indexes().first();
            if (first.row() != selectionMark()) {
              list_->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
            }
          });
  list_->installEventFilter(this);
  list_->viewport()->installEventFilter(this);
  place(list_, 7, 25, 374, 238, kGrowBoth);
  setFocusProxy(list_);
}

void NetstatPane::measureList() {
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
  QHeaderView* columns = list_->horizontalHeader();
  // The titles as large as the rows: the header, and the part of it that paints them, do not
  // take the list's font by themselves.
  columns->setFont(list_->font());
  columns->viewport()->setFont(list_->font());
  fitColumns();
}

void NetstatPane::fitColumns() {
  int widths[kEndpointColumns];
  int used = 0;
  for (int c = 0; c < kEndpointColumns; ++c) used += widths[c] = ColumnWidth(list_, c);
  // Room beyond the described widths goes to the two address columns alike, up to the widest
  // address, and what is left to the last column, so the list reaches its edge.
  int extra = list_->viewport()->width() - used;
  if (extra > 0) {
    const int wanted = std::max(0, CellWidthFor(list_, kWidestAddress) - widths[kColumnLocal]);
    const int each = std::min(wanted, extra / 2);
    widths[kColumnLocal] += each;
    widths[kColumnRemote] += each;
    widths[kEndpointColumns - 1] += extra - 2 * each;
  }
  QHeaderView* columns = list_->horizontalHeader();
  for (int c = 0; c < kEndpointColumns; ++c) columns->resizeSection(c, widths[c]);
}

void NetstatPane::command(int id) {
  switch (id) {
    case kNetstatRefreshId:
    case kNetstatShowAllId:
    case kNetstatConnectedId:
    case kNetstatTcpOnlyId:
    case kNetstatUdpOnlyId:
      RefreshNetstat();
      break;
    case kNetstatIntervalId:
      setInterval(interval_->currentIndex());
      break;
    case kCmdConnectionProperties:
      showConnectionProperties();
      break;
    case kCmdFileProperties:
      showProcessFileProperties();
      break;
    case kCmdKillConnection:
      killConnection();
      break;
    case kCmdTerminateProcess:
      terminateProcess();
      break;
    case kCmdSendToPing:
    case kCmdSendToDns:
    case kCmdSendToCapture:
      sendTo(id);
      break;
    case kCmdCopyList:
      copyList();
      break;
    case kCmdCopyLine:
      if (selectedRecord(kNoItem) != nullptr) {
        CopyTextToClipboard(model_->shownLine(selectionMark()).c_str());
      }
      break;
    case kCmdCopyIp:
      if (const EndpointRecord* r = selectedRecord(kNoItem)) {
        CopyTextToClipboard(RemoteAddressOf(*r).text().c_str());
      }
      break;
    default:
      break;
  }
}

void NetstatPane::closeModule() {
  for (QTimer* timer : {timer_, afterTerminate_}) {
    if (timer) timer->stop();
  }
  for (RunTokenPtr* run : {&build_, &properties_}) {
    if (*run) (*run)->cancel();
    run->reset();
  }
  refreshAgain_ = false;
  actions_->cancel();  // what they answer is never shown
  actions_ = NewRunToken();
  acting_ = 0;
}

void NetstatPane::RefreshNetstat() {
  if (build_) {
    refreshAgain_ = true;
    return;
  }
  build_ = NewRunToken();
  const bool started = StartWorkerThread(
      this,
      [pane = this, &service = service_, token = build_] {
        std::shared_ptr<const EndpointSnapshot> snapshot = service.endpoints(token.get());
        RunOnUiThread(token, [&] { pane->finishRefresh(token, std::move(snapshot)); });
      },
      [] {});
  if (!started) {
    // As with a failed gathering: ticks while the box was up only asked for one more refresh;
    // the next tick tries again.
    build_.reset();
    refreshAgain_ = false;
  }
}

void NetstatPane::finishRefresh(const RunTokenPtr& token,
                                std::shared_ptr<const EndpointSnapshot> snapshot) {
  if (build_ != token) return;
  if (snapshot) {
    showSnapshot(std::move(snapshot));
  } else {
    // The gathering counts as under way until the box is gone, so timer ticks meanwhile ask for
    // one more refresh instead of stacking boxes.
    ShowError(this, "Netstat Memory Allocation Error!");
  }
  if (build_ != token) return;  // closed while the box was up
  build_.reset();
  if (refreshAgain_) {
    refreshAgain_ = false;
    RefreshNetstat();
  }
}

void NetstatPane::showSnapshot(std::shared_ptr<const EndpointSnapshot> snapshot) {
  if (snapshot == nullptr) return;
  const int mark = selectionMark();
  std::vector<uint32_t> rows = EndpointRows(*snapshot, filter(), sortColumn_, sortAscending_);
  model_->showRows(std::move(snapshot), std::move(rows));
  if (mark < 0 || mark >= model_->rowCount()) return;
  const QModelIndex index = model_->index(mark, 0);
  list_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list_->scrollTo(index, QAbstractItemView::EnsureVisible);
}

int NetstatPane::selectionMark() const {
  const QModelIndex current = list_->selectionModel()->currentIndex();
  return current.isValid() ? current.row() : -1;
}

EndpointFilter NetstatPane::filter() const {
  if (radios_[3]->isChecked()) return EndpointFilter::UdpOnly;
  if (radios_[2]->isChecked()) return EndpointFilter::TcpOnly;
  if (radios_[1]->isChecked()) return EndpointFilter::ShowConnected;
  return EndpointFilter::ShowAll;
}

void NetstatPane::setInterval(int seconds) {
  if (seconds <= 0) {
    timer_->stop();
  } else {
    timer_->start(seconds * 1000);
  }
}

void NetstatPane::sortByColumn(int column) {
  sortColumn_ = column;
  sortAscending_ = !sortAscending_;
  model_->sortRows(sortColumn_, sortAscending_);
}

bool NetstatPane::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() && event->type() == QEvent::Resize) fitColumns();
  if (watched == list_->viewport() && event->type() == QEvent::ToolTip) {
    // A cell too narrow for its text shows the whole text as its tip.
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = list_->indexAt(help->pos());
    if (index.isValid() && IsElided(list_, index)) {
      QToolTip::showText(help->globalPos(), index.data().toString(), list_->viewport(),
                         list_->visualRect(index));
    } else {
      QToolTip::hideText();
    }
    return true;
  }
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    // Shift+F10 as well as the Menu key, which many keyboards lack.
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
      showMenuAtCurrentRow();
      return true;
    }
  }
  if (event->type() != QEvent::ContextMenu || (watched != list_ && watched != list_->viewport())) {
    return ModulePane::eventFilter(watched, event);
  }
  auto* request = static_cast<QContextMenuEvent*>(event);
  if (request->reason() != QContextMenuEvent::Mouse) {
    showMenuAtCurrentRow();
  } else if (list_->indexAt(list_->viewport()->mapFromGlobal(request->globalPos())).isValid()) {
    showMenu(request->globalPos());  // only over a row; beside the rows nothing happens
  }
  return true;
}

void NetstatPane::showMenuAtCurrentRow() {
  if (selectionMark() < 0) return;
  // At the current row, brought into view first.
  const QModelIndex current = model_->index(selectionMark(), 0);
  list_->scrollTo(current);
  showMenu(list_->viewport()->mapToGlobal(list_->visualRect(current).bottomLeft()));
}

void NetstatPane::showMenu(const QPoint& globalPos) {
  QMenu menu(QStringLiteral("Netstat"), this);
  AddEntries(&menu, {{"Connection Properties...", kCmdConnectionProperties},
                     {"File Properties...", kCmdFileProperties},
                     {nullptr, 0},
                     {"Kill Connection...", kCmdKillConnection},
                     {"Terminate Process...", kCmdTerminateProcess},
                     {nullptr, 0}});
  AddSubmenu(&menu, "Send To", kSendToEntries);
  AddSubmenu(&menu, "Copy", kCopyEntries);
  const int chosen = RunContextMenu(menu, globalPos);
  if (chosen != 0) command(chosen);
}

const EndpointRecord* NetstatPane::selectedRecord(const char* noRowText) {
  const EndpointRecord* record = model_->record(selectionMark());
  if (record == nullptr) ShowError(this, "%s", noRowText);
  return record;
}

// The lookups (host names, processes) may take long, so the text is gathered on a worker and
// shown when it is ready; the window goes on meanwhile.
void NetstatPane::showConnectionProperties() {
  if (selectedRecord(kNoItem) == nullptr) return;
  if (properties_) properties_->cancel();
  properties_ = NewRunToken();
  StartWorkerThread(
      this,
      [pane = this, &service = service_, token = properties_,
       cells = model_->cells(selectionMark())] {
        const std::string text =
            BuildConnectionProperties(cells, HostPropertyLookups(service, token.get()));
        RunOnUiThread(token, [&] {
          pane->properties_.reset();
          ShowTextPopup(pane, QStringLiteral("Connection Properties :"), text);
        });
      },
      [this] { properties_.reset(); });
}

void NetstatPane::showProcessFileProperties() {
  if (selectedRecord(kNoItem) == nullptr) return;
  const uint32_t processId = ProcessIdOfCell(model_->cells(selectionMark())[kColumnProcess]);
  callHost([&service = service_, processId] { return service.executableFile(processId); },
           [this](const std::optional<ExecutableFile>& file) {
             if (ShowFileProperties(this, file) == 0) {
               ShowError(this, "Failed To Get File Properties!");
             }
           });
}

void NetstatPane::killConnection() {
  const int row = selectionMark();
  const EndpointRecord* selected = selectedRecord(kNoConnection);
  if (selected == nullptr) return;
  if (selected->state != kTcpEstablished) {
    ShowError(this, "Can only kill established connections!");
    return;
  }
  // A refresh may replace the rows while the question is up: the endpoint is kept by value.
  const EndpointRecord endpoint = *selected;
  if (!Confirmed(this, "Terminate Connection?")) return;
  // The helper may take up to its 10 seconds.
  callHost([&service = service_, endpoint] { return service.killConnection(endpoint); },
           [this, row, endpoint](int error) {
             if (error != 0) {
               ShowError(this, "Failed To Kill Connection!");
               return;
             }
             // The row that shows the killed endpoint goes: the one the command started on,
             // unless a refresh has moved it meanwhile.
             int gone = SameEndpoint(model_->record(row), endpoint) ? row : -1;
             for (int r = 0; gone < 0 && r < model_->rowCount(); ++r) {
               if (SameEndpoint(model_->record(r), endpoint)) gone = r;
             }
             model_->removeEndpointRow(gone);
             Ask(this, "Connection Terminated.", MessageIcon::Information, MessageButtons::Ok,
                 nullptr);
           });
}

void NetstatPane::terminateProcess() {
  const EndpointRecord* selected = selectedRecord(kNoConnection);
  if (selected == nullptr) return;
  const uint32_t processId = selected->processId;
  if (!Confirmed(this, "Terminate Process?")) return;
  callHost([&service = service_, processId] { return service.terminateProcess(processId); },
           [this](TerminateResult result) {
             switch (result) {
               case TerminateResult::CannotOpen:
                 ShowError(this, "Unable To Terminate The Process!");
                 return;
               case TerminateResult::Failed:
                 ShowError(this, "Failed To Terminate The Process!");
                 break;
               case TerminateResult::Terminated:
                 break;
             }
             afterTerminate_->start();
           });
}

void NetstatPane::sendTo(int command) {
  const EndpointRecord* r = selectedRecord(kNoItem);
  if (r == nullptr) return;
  const std::string remote = RemoteAddressOf(*r).text();
  if (command == kCmdSendToPing) {
    PingSendTo(remote);
  } else if (command == kCmdSendToDns) {
    DnsSendTo(remote.c_str());
  } else {
    const CaptureFilter filter = CaptureFilterForEndpoint(*r);
    SendToPacketCapture(&filter);
  }
}

void NetstatPane::copyList() {
  const int count = model_->rowCount();
  if (count == 0) return;
  std::string text;
  try {
    for (int row = 0; row < count; ++row) text += model_->shownLine(row);
  } catch (const std::bad_alloc&) {
    ShowError(this, "Memory Allocation Error!");
    return;
  }
  CopyTextToClipboard(text.c_str());
}
