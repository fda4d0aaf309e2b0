#include "sockets/tcp_socket_pane.h"

#include <QComboBox>
#include <QPushButton>
#include <optional>
#include <string>

#include "base/format_bounded.h"
#include "shell/controls.h"
#include "shell/output.h"
#include "shell/payload_display.h"
#include "shell/ui_thread.h"
#include "shell/worker_thread.h"
#include "sockets/send_dialog.h"
#include "sockets/socket_run.h"
#include "sockets/terminal_controls.h"
#include "sockets/terminal_input.h"
#include "sys/socket_io.h"

namespace {

// What a run needs from the pane, read when it starts (the controls are disabled meanwhile).
struct TcpRequest {
  bool listen = false;
  uint32_t mode = 0;
  uint16_t port = 0;
  std::optional<std::string> listenAddress;  // nothing when the address list has no selection
  std::string host;
};

// An address the system cannot have: binding to it fails.
const IpAddress kNoAddress = IpAddress::Ipv4(0xFFFFFFFF);

// The message of an opening that failed; `shown` is the host a connect went to.
void ShowOpeningFailure(const SocketOpening& opening, const std::string& shown,
                        const PaneWriter& out) {
  switch (opening.failed) {
    case SocketStep::kCreate:
      out.error("Failed To Create Socket!");
      break;
    case SocketStep::kEvent:
      out.error(FormatLine(kLineCapacity, "Failed To Create Packet Capturing Event:  Code: %d",
                           opening.error));
      break;
    case SocketStep::kBind:
      out.error("Failed To Bind Socket!");
      break;
    case SocketStep::kListen:
      out.error("Failed To Put Socket In Listening State!");
      break;
    case SocketStep::kConnect:
      out.error(FormatLine(kLineCapacity, "An Error Occurred Connecting To: %s", shown.c_str()));
      break;
    case SocketStep::kNone:
      break;
  }
}

// Binds and listens; false after its message.
bool StartListening(const TcpRequest& request, SocketService& host, SocketRun& run,
                    const PaneWriter& out) {
  if (!request.listenAddress) return false;
  const IpAddress address = ParseHostAddress(*request.listenAddress).value_or(kNoAddress);
  SocketOpening opening = host.listenTcp(address, request.port, *run.stop);
  if (!opening.session) {
    ShowOpeningFailure(opening, std::string(), out);
    return false;
  }
  run.setSession(std::move(opening.session));
  out.print(FormatLine(kLineCapacity, "#>[Listening (Port:%d)...]\r\n", request.port));
  return true;
}

// Resolves the host and starts the connect; false after its message.
bool StartConnecting(const TcpRequest& request, SocketService& host, SocketRun& run,
                     const PaneWriter& out) {
  out.onUi([](QWidget* pane) { AddToHistory(FindControl<QComboBox>(pane, kTcpHostId)); });
  std::string shown = request.host;
  std::optional<IpAddress> address = ParseHostAddress(shown);
  if (!address) {
    // A Close takes effect at once: the lookup is left to finish unseen.
    char resolved[kInputCapacity] = {};
    const int found = host.resolveHost(shown.c_str(), resolved, sizeof resolved, run.stop.get());
    if (run.stop->cancelled()) return false;
    if (found == 0) {
      out.error("Failed To Resolve Host Name!");
      return false;
    }
    shown = resolved;
    address = ParseIpAddress(shown).value_or(kNoAddress);
  }
  SocketOpening opening = host.connectTcp(*address, request.port, *run.stop);
  if (!opening.session) {
    ShowOpeningFailure(opening, shown, out);
    return false;
  }
  run.setSession(std::move(opening.session));
  out.print("#>[Connecting To (");
  out.print(shown);
  out.print(")...]\r\n");
  return true;
}

// Handles one wake-up's events in their fixed order; false when the connection ends.
bool HandleEvents(const SocketUpdate& events, uint32_t mode, const PaneWriter& out) {
  if (events.has(kSocketRead)) {
    if (events.readError != 0) {
      out.print("#>[ERROR: FD_READ]\r\n");
      return false;
    }
    if (!events.bytes.empty()) out.render(mode, events.bytes);
    if (events.readFailed) {
      out.print("#>[ERROR: Reading Data]\r\n");
      return false;
    }
  }
  if (events.has(kSocketWrite)) {
    if (events.writeError != 0) {
      out.print("#>[ERROR: FD_WRITE]\r\n");
      return false;
    }
    out.enable(kTcpSendId, true);
  }
  if (events.has(kSocketAccept)) {
    if (events.acceptError != 0) {
      out.print("#>[ERROR: FD_ACCEPT]\r\n");
      return false;
    }
    if (events.acceptFailed) {
      out.print("#>[ERROR: Accepting Connection]\r\n");
      return false;
    }
    // The listener is gone: one connection per run.
    out.print(FormatLine(kLineCapacity, "#>[Connection From: %s]\r\n",
                         SocketPeerText(events.peer).c_str()));
  }
  if (events.has(kSocketConnect)) {
    if (events.connectError != 0) {
      out.print("#>[ERROR: FD_CONNECT]\r\n");
      return false;
    }
    out.print("#>[Connected]\r\n");
  }
  return !events.has(kSocketClose);
}

// The run up to its end step.
void RunConnection(const TcpRequest& request, SocketService& host, SocketRun& run,
                   const PaneWriter& out) {
  const RunToken& stop = *run.stop;
  if (stop.wakeFd() < 0) {
    out.error(FormatLine(kLineCapacity, "Failed To Create Packet Capturing Event:  Code: %d",
                         stop.createError()));
    return;
  }
  if (request.port == 0) {
    out.error("Invalid Port!");
    return;
  }
  const bool started = request.listen ? StartListening(request, host, run, out)
                                      : StartConnecting(request, host, run, out);
  if (!started) return;

  // The stop is looked at before every wait too, so a stop is never lost.
  const std::shared_ptr<SocketSession> session = run.session();
  SocketUpdate update;
  while (!stop.cancelled() && session->wait(update, stop)) {
    if (!HandleEvents(update, request.mode, out)) break;
  }
}

// `host` outlives every run.
void TcpWorker(TcpRequest request, SocketService& host, std::shared_ptr<SocketRun> run,
               PaneWriter out, std::function<void()> ended) {
  RunConnection(request, host, *run, out);
  run->closeSession();
  out.print("#>[Connection Closed]\r\n");
  out.onUi([&](QWidget*) { ended(); });
}

}  // namespace

TcpSocketPane::TcpSocketPane(QWidget* mainWindow, SocketService& sockets)
    : ModulePane(mainWindow),
      host_(sockets),
      run_(this, [this](bool running) { showRunning(running); }) {
  // The host and the address share the room the pane has beyond its size; the port stays beside.
  QGroupBox* hostGroup = AddGroup(this, "Connect To :", 7, 2, 176, 30, Across(0, 0.5));
  auto* host = new QComboBox(this);
  SetControlId(host, kTcpHostId);
  host->setEditable(true);
  host->setInsertPolicy(QComboBox::NoInsert);
  place(host, 13, 15, 164, 12, Across(0, 0.5));
  PutInGroup(host, hostGroup);

  QGroupBox* addressGroup = AddGroup(this, "Listen On :", 188, 2, 104, 30, Across(0.5, 1));
  auto* address = new QComboBox(this);
  SetControlId(address, kTcpListenAddressId);
  place(address, 194, 15, 92, 12, Across(0.5, 1));
  PutInGroup(address, addressGroup);
  fillingAddresses_ = true;
  FillLocalAddressBox(address, host_, [this] { fillingAddresses_ = false; });

  AddPortEdit(this, AddGroup(this, "Port :", 297, 2, 84, 30, kMoveRight), kTcpPortId, 303, 72,
              kMoveRight);

  AddRowButton(this, "Connect", kTcpConnectId, 7);
  AddRowButton(this, "Listen", kTcpListenId, 61);
  AddRowButton(this, "Send...", kTcpSendId, 115)->setDefault(true);
  AddRowButton(this, "Close", kTcpCloseId, 169);
  AddEchoDisplayAndOutput(this, 226);
  showRunning(false);
}

TcpSocketPane::~TcpSocketPane() = default;

void TcpSocketPane::command(int id) {
  switch (id) {
    case kTcpConnectId:
      start(false);
      break;
    case kTcpListenId:
      start(true);
      break;
    case kTcpCloseId:
      run_.stop();
      break;
    case kTcpSendId: {
      SendDialog dialog(this, [this](SendDialog& d) { SendTcpData(d); });
      dialog.exec();
      break;
    }
    default:
      break;
  }
}

void TcpSocketPane::closeModule() {
  run_.stop();
}

void TcpSocketPane::start(bool listen) {
  if (run_) return;
  TcpRequest request;
  request.listen = listen;
  request.mode = DisplayModeFromSelection(this, kDisplaySelectorId);
  request.port = PortFromText(ReadControlText(this, kTcpPortId));
  if (auto* address = FindControl<QComboBox>(this, kTcpListenAddressId);
      address != nullptr && address->currentIndex() >= 0) {
    request.listenAddress = BoundedText(address->currentText());
  }
  request.host = ReadControlText(this, kTcpHostId);

  run_.start([this, &request](const std::shared_ptr<SocketRun>& run, std::function<void()> ended) {
    return [request = std::move(request), host = &host_, run, out = PaneWriter(this, run->token),
            ended = std::move(ended)] { TcpWorker(request, *host, run, out, ended); };
  });
}

void TcpSocketPane::showRunning(bool running) {
  for (int id : {kTcpConnectId, kTcpListenId, kDisplaySelectorId, kTcpListenAddressId, kTcpPortId,
                 kTcpHostId}) {
    EnableControl(this, id, !running);
  }
  EnableControl(this, kTcpCloseId, running);
  EnableControl(this, kTcpSendId, false);  // a write event enables it
}

void TcpSocketPane::SendTcpData(SendDialog& dialog) {
  const std::shared_ptr<SocketSession> session = run_ ? run_->session() : nullptr;
  if (!session) return;
  const std::optional<std::vector<uint8_t>> data = dialog.dataToSend();
  if (!data) return;
  const SocketSent result = session->send(*data);
  EchoSentData(this, *data);
  if (result.sent != static_cast<long long>(data->size())) {
    EnableControl(this, kTcpSendId, false);
    // Full send buffer: the next write event gives the button back.
    if (result.sent >= 0 || result.error == EAGAIN) session->sendBlocked();
  }
  dialog.accept();
}
