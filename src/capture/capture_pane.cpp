#include "capture/capture_pane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <optional>
#include <string>
#include <vector>

#include "base/format_bounded.h"
#include "base/outside_text.h"
// Capture files are this computer's, whichever host the window inspects: the pane reads and
// writes them itself.
#include "capture/capture_file.h"
#include "capture/capture_filter_dialog.h"
#include "capture/filter_rules.h"
#include "capture/packet_text.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/module_table.h"
#include "shell/output.h"
#include "shell/payload_display.h"
#include "shell/ui_thread.h"
#include "shell/worker_thread.h"
#include "sockets/socket_run.h"
#include "sockets/terminal_controls.h"

// What the pane and the worker of one run share. The pane keeps it while the run lasts, the
// worker until it ends.
struct CaptureRun {
  // Cancelled by Stop: it ends every wait of the worker, which still prints its last lines.
  const RunTokenPtr stop = NewRunToken();
  // The capture is open: from here on every packet of the interface reaches the worker.
  std::atomic<bool> open{false};
  // Cancelled when the pane goes: from then on nothing of the run reaches it.
  const RunTokenPtr token = NewRunToken();
  // The kernel's counts at the end of a capture; written by the worker before its end step.
  CaptureCounts counts;

  void requestStop() { stop->cancel(); }
};

// What a run needs from the pane, read at Start (the controls stay disabled meanwhile): a
// capture on an interface, saved to a file or not, or the reading of a capture file.
struct CaptureRequest {
  std::optional<IpAddress> address;  // nothing when the interface list has no selection
  std::string saveFile;              // the file the capture saves to; empty for none
  std::string openFile;              // the capture file read instead of a capture
  uint32_t mode = 0;
  bool showInfo = true;
  CaptureFilter filter;
};

namespace {

// Frames a read may hand over at once.
constexpr size_t kFramesPerRead = 256;

CaptureFilter g_currentFilter = InitialCaptureFilter();
QPointer<CapturePane> g_capturePane;
CaptureFileChooser g_chooser;

// The lines a run prints besides its packets, each after a line break of its own.
std::string StatusLine(const std::string& text) {
  return "\r\n#>[" + text + "]\r\n";
}

std::string WriteFailedLine(int error) {
  return StatusLine(FormatLine(
      kLineCapacity, "ERROR: Saving Ended, Failed To Write Capture File:  Code: %d", error));
}

// The end of a capture that lost packets: the kernel's count, and what was saved.
std::string LossLine(const CaptureCounts& counts, bool saving, uint64_t saved) {
  const auto dropped = static_cast<unsigned long long>(counts.dropped);
  if (!saving) {
    return StatusLine(
        FormatLine(kLineCapacity, "Packets Lost: %llu Dropped By The Kernel", dropped));
  }
  return StatusLine(FormatLine(kLineCapacity,
                               "Packets Lost: %llu Dropped By The Kernel, %llu Saved To File",
                               dropped, static_cast<unsigned long long>(saved)));
}

// The packets of a capture or a file, one at a time: those that decode and pass the filter are
// numbered from 1 and shown.
class PacketPrinter {
 public:
  PacketPrinter(const CaptureRequest& request, int linkType, const PaneWriter& out)
      : request_(request), linkType_(linkType), out_(out) {}

  // Whether the frame is one the filter passes. It is shown; with `ifRoom`, only when the pane
  // has room for it now (left out, it still has its number).
  bool take(const CaptureFrame& frame, bool ifRoom) {
    if (!DecodeFrame(linkType_, frame.bytes, frame.capturedLength, record_.get()) ||
        PacketPassesFilter(request_.filter, *record_) == 0) {
      return false;
    }
    const int64_t number = next_++;
    const auto text = [&] {
      return FormatCapturedPacket(number, *record_, request_.mode, request_.showInfo);
    };
    if (ifRoom) {
      out_.printIfRoom(text);
    } else {
      out_.print(text());
    }
    return true;
  }

 private:
  const CaptureRequest& request_;
  const int linkType_;
  const PaneWriter& out_;
  std::unique_ptr<CapturedPacket> record_ = std::make_unique<CapturedPacket>();
  int64_t next_ = 1;
};

// A capture up to its end step. The host opens the capture and hands over its frames; every wait
// for one also ends at the stop signal. Without saving, printing waits while the pane is far
// behind, and the kernel's ring takes up the slack (dropping what it cannot hold) rather than our
// memory. Saving, the reading never waits for the pane: every frame the filter passes goes to the
// file, and the pane shows those it has room for.
void RunCapture(const CaptureRequest& request, CaptureService& host, CaptureRun& run,
                const PaneWriter& out) {
  if (!request.address) return;
  const RunToken& stop = *run.stop;
  const CaptureOpening opening = host.open(*request.address, request.filter, stop);
  if (!opening.session) {
    if (!stop.cancelled()) {
      out.error(FormatLine(kLineCapacity, "Failed To Create Packet Capturing Socket:  Code: %d",
                           opening.error));
    }
    return;
  }
  CaptureSession& session = *opening.session;  // closed at the latest when it goes
  if (stop.wakeFd() < 0) {
    out.error(FormatLine(kLineCapacity, "Failed To Create Packet Capturing Event:  Code: %d",
                         stop.createError()));
    return;
  }
  int error = 0;
  CaptureFileWriter* file = nullptr;
  if (!request.saveFile.empty()) {
    file = CreateCaptureFile(request.saveFile, session.linkType(), session.snapLength(), &error);
    if (file == nullptr) {
      out.error(FormatLine(kLineCapacity, "Failed To Create Capture File:  Code: %d", error));
      return;
    }
    out.print("#>[Saving To: " + EscapedTextFromOutside(request.saveFile, '/') + "]\r\n");
  }
  run.open = true;

  const bool saving = file != nullptr;
  uint64_t saved = 0;
  PacketPrinter printer(request, session.linkType(), out);
  CaptureBatch batch;
  // The stop is looked at before every wait and every frame too, so a stop is never lost.
  while (!stop.cancelled() && session.read(batch, kFramesPerRead, stop)) {
    for (const CaptureFrame& frame : batch.frames) {
      if (stop.cancelled()) break;
      if (!printer.take(frame, file != nullptr) || file == nullptr) continue;
      if (const int failed = WriteCaptureFrame(file, frame); failed != 0) {
        CloseCaptureFileWriter(file);  // what was written stays
        file = nullptr;
        out.print(WriteFailedLine(failed));
      } else {
        ++saved;
      }
    }
  }
  run.counts = session.close().counts;
  if (file != nullptr) {
    if (const int failed = CloseCaptureFileWriter(file); failed != 0) {
      out.print(WriteFailedLine(failed));
    }
  }
  if (run.counts.dropped > 0) out.print(LossLine(run.counts, saving, saved));
}

// The reading of a capture file up to its end step, or to the first frame that is damaged or
// cut short. It never waits for the pane, which ends as if it had shown every packet.
void ReadFile(const CaptureRequest& request, CaptureRun& run, const PaneWriter& out) {
  int error = 0;
  std::unique_ptr<CaptureFileReader, void (*)(CaptureFileReader*)> file(
      OpenCaptureFile(request.openFile, run.stop->wakeFd(), &error), CloseCaptureFileReader);
  if (!file) {
    if (run.stop->cancelled()) return;
    out.error(error == kNotCaptureFile
                  ? std::string("Unknown Capture File Format!")
                  : FormatLine(kLineCapacity, "Failed To Open Capture File:  Code: %d", error));
    return;
  }
  const int linkType = CaptureFileLinkType(file.get());
  if (!IsKnownLinkType(linkType)) {
    out.error(FormatLine(kLineCapacity, "Unsupported Link Type In Capture File: %d", linkType));
    return;
  }
  run.open = true;
  PacketPrinter printer(request, linkType, out);
  CaptureFrame frame;
  FrameRead read = FrameRead::kEnd;
  while (!run.stop->cancelled() &&
         (read = ReadCaptureFrame(file.get(), &frame)) == FrameRead::kFrame) {
    printer.take(frame, false);
  }
  if (read == FrameRead::kDamaged && !run.stop->cancelled()) {
    out.print(StatusLine("ERROR: Capture File Damaged Or Cut Short"));
  }
}

// `ended` comes after every packet printed. `host` outlives every run.
void CaptureWorker(CaptureRequest request, CaptureService& host, std::shared_ptr<CaptureRun> run,
                   PaneWriter out, std::function<void()> ended) {
  if (request.openFile.empty()) {
    RunCapture(request, host, *run, out);
  } else {
    ReadFile(request, *run, out);
  }
  out.onUi([&](QWidget*) { ended(); });
}

QString ChooseFile(QWidget* owner, bool save) {
  if (g_chooser) return g_chooser(owner, save);
  const QString types = QStringLiteral("Capture Files (*.pcap *.pcapng *.cap);;All Files (*)");
  if (!save) {
    return QFileDialog::getOpenFileName(owner, QStringLiteral("Open Capture File"), QString(),
                                        types);
  }
  QFileDialog dialog(owner, QStringLiteral("Save Capture To File"), QString(), types);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("pcap"));
  return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

// The address of an entry of the interface list: an IPv6 address, or a dotted one
// (255.255.255.255, which no interface holds, for anything else).
IpAddress InterfaceAddressOf(const std::string& text) {
  return ParseIpAddress(text).value_or(IpAddress::Ipv4(0xFFFFFFFF));
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

CapturePane::CapturePane(QWidget* mainWindow, CaptureService& host)
    : ModulePane(mainWindow),
      host_(host),
      run_(
          this, [this](bool) { updateWidgets(); },
          [this](CaptureRun& run) { lastRunCounts_ = run.counts; }) {
  g_capturePane = this;
  g_currentFilter = InitialCaptureFilter();

  // The interface's column and the filter share the room the pane has beyond its size.
  const Follow column = Across(0, 0.5);
  QGroupBox* addressGroup = AddGroup(this, "Local Interface :", 7, 2, 104, 30, column);
  auto* address = new QComboBox(this);
  SetControlId(address, kCaptureInterfaceId);
  place(address, 13, 15, 92, 12, column);
  PutInGroup(address, addressGroup);
  fillAddressList();

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
  auto* file = new QPushButton(QStringLiteral("File..."), this);
  SetControlId(file, kCaptureFileId);
  place(file, 122, 63, 50, 12, beside);  // below Start, inside the group
  auto* fileMenu = new QMenu(file);
  for (const auto& [text, id] : {std::pair{"Save To File...", kCmdSaveToFile},
                                 std::pair{"Open Capture File...", kCmdOpenCaptureFile}}) {
    QAction* action = fileMenu->addAction(QString::fromLatin1(text));
    action->setObjectName(QString::number(id));
    action->setCheckable(id == kCmdSaveToFile);  // ticked while the next capture saves
    connect(action, &QAction::triggered, this, [this, id = id] { command(id); });
  }
  file->setMenu(fileMenu);

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

CapturePane::~CapturePane() = default;

void CapturePane::command(int id) {
  if (id == kCaptureStartId) {
    if (running()) {
      run_.stop();
    } else {
      start();
    }
  } else if (id == kCaptureEditFilterId && !running()) {
    editFilter();
  } else if (id == kCmdSaveToFile && !running()) {
    chooseSaveFile();
  } else if (id == kCmdOpenCaptureFile && !running()) {
    if (const QString path = ChooseFile(this, false); !path.isEmpty()) openFile(path);
  }
}

bool CapturePane::capturing() const {
  return run_.running() && run_->open;
}

void CapturePane::closeModule() {
  run_.stop();
}

void CapturePane::sendTo(const CaptureFilter* filter) {
  run_.stopAndCutOff();
  if (filter != nullptr) g_currentFilter = *filter;
  DescribeFilter();
  SetControlText(this, kOutputPaneId, QString());
  ShowModule(kCaptureButton);
}

void CapturePane::showFile(const QString& path) {
  ShowModule(kCaptureButton);
  if (!running()) openFile(path);
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

void CapturePane::fillAddressList() {
  // The host's list is read off the UI thread; it fills the box when it comes.
  fillingAddresses_ = true;
  CallOffUiThread(
      this, [host = &host_] { return host->captureAddresses(); },
      [this](const std::vector<IpAddress>& addresses) {
        fillingAddresses_ = false;
        QStringList items;
        items.reserve(qsizetype(addresses.size()));
        for (const IpAddress& address : addresses) items += QString::fromStdString(address.text());
        auto* box = FindControl<QComboBox>(this, kCaptureInterfaceId);
        box->addItems(items);  // one insertion for the whole list
        box->setCurrentIndex(box->count() > 0 ? 0 : -1);
      });
}

void CapturePane::start() {
  CaptureRequest request;
  if (auto* address = FindControl<QComboBox>(this, kCaptureInterfaceId);
      address != nullptr && address->currentIndex() >= 0) {
    request.address = InterfaceAddressOf(BoundedText(address->currentText()));
  }
  // The file is the next capture's only: a later one saves only where it is told to.
  request.saveFile = QFile::encodeName(std::exchange(saveFile_, QString())).toStdString();
  startRun(request);
}

void CapturePane::openFile(const QString& path) {
  CaptureRequest request;
  request.openFile = QFile::encodeName(path).toStdString();
  startRun(request);
}

void CapturePane::startRun(CaptureRequest request) {
  request.mode = DisplayModeFromSelection(this, kDisplaySelectorId);
  request.showInfo = FindControl<QCheckBox>(this, kCaptureShowInfoId)->isChecked();
  request.filter = g_currentFilter;

  // A file is read as fast as it goes; the pane keeps up by showing only what stays in it.
  const auto overflow =
      request.openFile.empty() ? OutputBatch::Overflow::kWait : OutputBatch::Overflow::kKeepNewest;
  run_.start([&](const std::shared_ptr<CaptureRun>& run, std::function<void()> ended) {
    return [request, host = &host_, run, out = PaneWriter(this, run->token, overflow),
            ended = std::move(ended)] { CaptureWorker(request, *host, run, out, ended); };
  });
}

void CapturePane::chooseSaveFile() {
  if (saveFile_.isEmpty()) {
    saveFile_ = ChooseFile(this, true);
  } else {
    saveFile_.clear();  // chosen again: the next capture saves nothing
  }
  updateWidgets();
}

void CapturePane::editFilter() {
  CaptureFilterDialog dialog(this, g_currentFilter);
  dialog.exec();
  DescribeFilter();
}

void CapturePane::updateWidgets() {
  const bool idle = !running();
  SetControlText(this, kCaptureStartId, idle ? QStringLiteral("Start") : QStringLiteral("Stop"));
  for (int id : {kCaptureEditFilterId, kCaptureInterfaceId, kDisplaySelectorId, kCaptureShowInfoId,
                 kCaptureFileId}) {
    EnableControl(this, id, idle);
  }
  // The file the next capture saves to, ticked in the menu and named where the button is
  // pointed at.
  auto* file = FindControl<QPushButton>(this, kCaptureFileId);
  if (auto* save = file->menu()->findChild<QAction*>(QString::number(kCmdSaveToFile))) {
    save->setChecked(!saveFile_.isEmpty());
  }
  file->setToolTip(saveFile_);
  file->setAccessibleDescription(saveFile_);
}

void SetCaptureFileChooser(CaptureFileChooser chooser) {
  g_chooser = std::move(chooser);
}

CaptureFilter& CurrentCaptureFilter() {
  return g_currentFilter;
}

void SendToPacketCapture(const CaptureFilter* filter) {
  if (g_capturePane) g_capturePane->sendTo(filter);
}

void ShowCaptureFile(const QString& path) {
  if (g_capturePane) g_capturePane->showFile(path);
}
