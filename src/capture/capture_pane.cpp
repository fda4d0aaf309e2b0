#include "capture/capture_pane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <optional>
#include <string>

#include "capture/capture_filter_dialog.h"
#include "capture/capture_stream.h"
#include "capture/filter_rules.h"
#include "capture/packet_text.h"
#include "shell/controls.h"
#include "shell/format_bounded.h"
#include "shell/main_window.h"
#include "shell/module_table.h"
#include "shell/output.h"
#include "shell/payload_display.h"
#include "shell/ui_thread.h"
#include "shell/worker_thread.h"
#include "sockets/net_event.h"
#include "sockets/socket_io.h"
#include "sockets/socket_run.h"
#include "sockets/terminal_controls.h"

// What the pane and the worker of one run share. The pane keeps it while the run lasts, the
// worker until it ends.
struct CaptureRun {
  NetEvent event;
  std::atomic<bool> stop{false};
  // The capture is open: from here on every packet of the interface reaches the worker.
  std::atomic<bool> open{false};
  const RunTokenPtr token = NewRunToken();
  // The kernel's counts at the end of the run; written by the worker before its end step.
  CaptureCounts counts;

  void requestStop() {
    stop = true;
    event.signal();
  }
};

namespace {

CaptureFilter g_currentFilter = InitialCaptureFilter();
QPointer<CapturePane> g_capturePane;

// What a run needs from the pane, read at Start (the controls stay disabled meanwhile).
struct CaptureRequest {
  std::optional<uint32_t> address;  // nothing when the interface list has no selection
  uint32_t mode = 0;
  bool showInfo = true;
  CaptureFilter filter;
};

// The run up to its end step. The helper opens the capture and streams its packets; every wait
// for one also ends at the stop signal. While the pane is far behind, printing waits, and the
// kernel's ring takes up the slack (dropping what it cannot hold) rather than our memory.
void RunCapture(const CaptureRequest& request, CaptureRun& run, const PaneWriter& out) {
  if (!request.address) return;
  int error = 0;
  std::unique_ptr<CaptureStream, CaptureCounts (*)(CaptureStream*)> stream(
      OpenCaptureStream(*request.address, request.filter, run.event.signalFd(), &error),
      CloseCaptureStream);
  if (!stream) {
    if (!run.stop) {
      out.error(
          FormatLine(kLineCapacity, "Failed To Create Packet Capturing Socket:  Code: %d", error));
    }
    return;
  }
  if (!run.event.valid()) {
    out.error(FormatLine(kLineCapacity, "Failed To Create Packet Capturing Event:  Code: %d",
                         run.event.createError()));
    return;
  }
  run.open = true;

  auto record = std::make_unique<CapturedPacket>();
  int number = 1;
  // The flag is looked at before every wait too, so a stop is never lost.
  while (!run.stop) {
    const int result = ReadStreamPacket(stream.get(), record.get());
    if (result < 0) break;
    if (result == 0 || PacketPassesFilter(request.filter, *record) == 0) continue;
    out.print(FormatCapturedPacket(number++, *record, request.mode, request.showInfo));
  }
  run.counts = CloseCaptureStream(stream.release());
}

// `ended` comes after every packet printed.
void CaptureWorker(CaptureRequest request, std::shared_ptr<CaptureRun> run, PaneWriter out,
                   std::function<void()> ended) {
  RunCapture(request, *run, out);
  out.onUi([&](QWidget*) { ended(); });
}

// The lines, each broken after a comma or a blank wherever it would run past `width`, so that a
// long list goes on in the lines below instead of being cut off (the label breaks only at
// blanks, and a list has none).
QString BreakLongLines(const QStringList& lines, const QFontMetrics& metrics, int width) {
  QStringList rows;
  for (const QString& line : lines) {
    QString row;
    for (qsizetype start = 0; start < line.size();) {
      qsizetype end = start;
      while (end < line.size() && line[end] != u',' && line[end] != u' ') ++end;
      const QString piece = line.mid(start, end + 1 - start);  // with the separator after it
      if (!row.isEmpty() && metrics.horizontalAdvance(row + piece.trimmed()) > width) {
        rows += row;
        row.clear();
      }
      row += piece;
      start = end + 1;
    }
    rows += row;
  }
  return rows.join(u'\n');
}

}  // namespace

CapturePane::CapturePane(QWidget* mainWindow) : ModulePane(mainWindow) {
  g_capturePane = this;
  g_currentFilter = InitialCaptureFilter();

  // The interface's column and the filter share the room the pane has beyond its size.
  const Follow column = Across(0, 0.5);
  QGroupBox* addressGroup = AddGroup(this, "Local Interface :", 7, 2, 104, 30, column);
  auto* address = new QComboBox(this);
  SetControlId(address, kCaptureInterfaceId);
  place(address, 13, 15, 92, 12, column);
  PutInGroup(address, addressGroup);
  FillLocalAddressBox(address, LocalFamilies::kIpv4Only);  // captures read IPv4 alone

  QGroupBox* displayGroup = AddGroup(this, "Display :", 7, 35, 104, 42, column);
  auto* display = new QComboBox(this);
  SetControlId(display, kDisplaySelectorId);
  place(display, 13, 47, 92, 12, column);
  PutInGroup(display, displayGroup);
  FillDisplaySelector(display, 0);
  auto* showInfo = new QCheckBox(QStringLiteral("Show Packet Info"), this);
  SetControlId(showInfo, kCaptureShowInfoId);
  showInfo->setChecked(true);
  place(showInfo, 13, 63, 92, 10);

  const Follow beside = Across(0.5, 0.5);
  AddGroup(this, "Controls :", 116, 2, 62, 75, beside);
  auto* editFilter = new QPushButton(QStringLiteral("Edit Filter..."), this);
  SetControlId(editFilter, kCaptureEditFilterId);
  place(editFilter, 122, 17, 50, 14, beside);
  connect(editFilter, &QPushButton::clicked, this, [this] { command(kCaptureEditFilterId); });
  auto* start = new QPushButton(QStringLiteral("Start"), this);
  SetControlId(start, kCaptureStartId);
  start->setDefault(true);
  place(start, 122, 46, 50, 14, beside);
  connect(start, &QPushButton::clicked, this, [this] { command(kCaptureStartId); });

  AddGroup(this, "Current Filter :", 183, 2, 198, 75, Across(0.5, 1));
  auto* filterText = new QLabel(this);
  SetControlId(filterText, kCaptureFilterTextId);
  filterText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  filterText->setTextFormat(Qt::PlainText);
  // To the group's lower edge: room for seven lines.
  place(filterText, 190, 14, 186, 61, Across(0.5, 1));
  DescribeFilter();

  MakeOutputPane(this, kOutputPaneId, QRect(7, 81, 374, 182), true, OutputScrollBars::VerticalOnly,
                 true);

  updateWidgets();
}

CapturePane::~CapturePane() {
  if (run_) {
    run_->token->cancel();
    run_->requestStop();
  }
}

void CapturePane::command(int id) {
  if (id == kCaptureStartId) {
    if (running()) {
      stop();
    } else {
      start();
    }
  } else if (id == kCaptureEditFilterId && !running()) {
    editFilter();
  }
}

bool CapturePane::capturing() const {
  return run_ != nullptr && run_->open;
}

void CapturePane::closeModule() {
  stop();
}

void CapturePane::sendTo(const CaptureFilter* filter) {
  stop();
  if (run_) {  // a worker that did not end in time: nothing more of it is shown
    run_->token->cancel();
    runEnded(run_.get());
  }
  if (filter != nullptr) g_currentFilter = *filter;
  DescribeFilter();
  SetControlText(this, kOutputPaneId, QString());
  ShowModule(kCaptureButton);
}

void CapturePane::resizeEvent(QResizeEvent* event) {
  ModulePane::resizeEvent(event);
  DescribeFilter();
}

void CapturePane::DescribeFilter() {
  auto* box = FindControl<QLabel>(this, kCaptureFilterTextId);
  if (box == nullptr) return;
  // A QLabel shows "\r\n" as two breaks; its lines end in "\n" alone.
  const QString text = QString::fromStdString(DescribeFilterText(g_currentFilter));
  const QString shown = BreakLongLines(text.split(QLatin1String("\r\n")), box->fontMetrics(),
                                       box->contentsRect().width());
  box->setText(shown);
  // Both lists full of long entries need more lines than the box has: pointing at it shows all.
  const bool overflows =
      (shown.count(u'\n') + 1) * box->fontMetrics().lineSpacing() > box->contentsRect().height();
  box->setToolTip(overflows ? shown : QString());
}

void CapturePane::start() {
  CaptureRequest request;
  if (auto* address = FindControl<QComboBox>(this, kCaptureInterfaceId);
      address != nullptr && address->currentIndex() >= 0) {
    request.address = ParseDottedAddress(BoundedText(address->currentText())).value_or(0xFFFFFFFF);
  }
  request.mode = DisplayModeFromSelection(this, kDisplaySelectorId);
  request.showInfo = FindControl<QCheckBox>(this, kCaptureShowInfoId)->isChecked();
  request.filter = g_currentFilter;

  run_ = std::make_shared<CaptureRun>();
  updateWidgets();
  auto ended = [this, run = run_.get()] { runEnded(run); };
  StartWorkerThread(
      this,
      [request, run = run_, out = PaneWriter(this, run_->token), ended] {
        CaptureWorker(request, run, out, ended);
      },
      [this] { runEnded(run_.get()); });
}

void CapturePane::stop() {
  if (!run_) return;
  run_->requestStop();
  PauseUi(200);  // the worker hands over its last packets and ends meanwhile
}

void CapturePane::editFilter() {
  CaptureFilterDialog dialog(this, g_currentFilter);
  dialog.exec();
  DescribeFilter();
}

void CapturePane::runEnded(const CaptureRun* run) {
  if (run_.get() != run) return;
  lastRunCounts_ = run_->counts;
  run_.reset();
  updateWidgets();
}

void CapturePane::updateWidgets() {
  const bool idle = !running();
  SetControlText(this, kCaptureStartId, idle ? QStringLiteral("Start") : QStringLiteral("Stop"));
  for (int id :
       {kCaptureEditFilterId, kCaptureInterfaceId, kDisplaySelectorId, kCaptureShowInfoId}) {
    EnableControl(this, id, idle);
  }
}

ModulePane* CreateCapturePane(QWidget* mainWindow) {
  return new CapturePane(mainWindow);
}

CaptureFilter& CurrentCaptureFilter() {
  return g_currentFilter;
}

void SendToPacketCapture(const CaptureFilter* filter) {
  if (g_capturePane) g_capturePane->sendTo(filter);
}
