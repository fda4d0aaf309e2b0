#include "sockets/tcp_socket_pane.h"

#include <QComboBox>
#include <QPushButton>
#include <optional>
#include <string>

#include "shell/controls.h"
#include "base/format_bounded.h"
#include "shell/output.h"
#include "shell/payload_display.h"
#include "sys/resolve_host.h"
#include "shell/ui_thread.h"
#include "shell/worker_thread.h"
#include "sys/local_addresses.h"
#include "sockets/send_dialog.h"
#include "sys/socket_io.h"
#include "sockets/socket_run.h"
#include "sockets/terminal_controls.h"
#include "sockets/terminal_input.h"

namespace {

constexpr uint32_t kTcpEvents = kNetRead | kNetWrite | kNetAccept | kNetConnect | kNetClose;
constexpr int kListenBacklog = 5;

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

// Binds and listens; false after its message.
bool StartListening(const TcpRequest& request, SocketRun& run, const PaneWriter& out) {
  if (!request.listenAddress) return false;
  const IpAddress address = ParseHostAddress(*request.listenAddress).value_or(kNoAddress);
  if (!SocketForAddress(address, OpenTcpSocket, kTcpEvents, run, out)) return false;
  const int fd = run.socket();
  AllowAddressReuse(fd);
  if (!BindSocket(fd, address, request.port)) {
    out.error("Failed To Bind Socket!");
    return false;
  }
  if (!ListenOnSocket(fd, kListenBacklog)) {
    out.error("Failed To Put Socket In Listening State!");
    return false;
  }
  run.event.listenStarted();
  out.print(FormatLine(kLineCapacity, "#>[Listening (Port:%d)...]\r\n", request.port));
  return true;
}

// A connect that failed at once because the peer refused it or cannot be reached: reported as
// the connect event's error, as when the failure comes later.
bool IsConnectEventError(int error) {
  return error == ECONNREFUSED || error == ENETUNREACH || error == EHOSTUNREACH;
}

// Resolves the host and starts the connect; false after its message.
bool StartConnecting(const TcpRequest& request, SocketRun& run, const PaneWriter& out) {
  out.onUi([](QWidget* pane) { AddToHistory(FindControl<QComboBox>(pane, kTcpHostId)); });
  std::string shown = request.host;
  std::optional<IpAddress> address = ParseHostAddress(shown);
  if (!address) {
    // A Close takes effect at once: the lookup is left to finish unseen. Nothing but a stop
    // signals the event before the connect.
    char resolved[kInputCapacity] = {};
    const int found =
        ResolveHostUnlessStopped(shown.c_str(), resolved, sizeof resolved, run.event.signalFd());
    if (found < 0) return false;
    if (found == 0) {
      out.error("Failed To Resolve Host Name!");
      return false;
    }
    shown = resolved;
    address = ParseIpAddress(shown).value_or(kNoAddress);
  }
  if (!SocketForAddress(*address, OpenTcpSocket, kTcpEvents, run, out)) return false;
  const int error = StartConnect(run.socket(), *address, request.port);
  if (error != 0 && !IsConnectEventError(error)) {
    out.error(FormatLine(kLineCapacity, "An Error Occurred Connecting To: %s", shown.c_str()));
    return false;
  }
  run.event.connectStarted(error);
  out.print("#>[Connecting To (");
  out.print(shown);
  out.print(")...]\r\n");
  return true;
}

// Takes the pending connection in place of the listening socket; false after its line.
bool AcceptPeer(SocketRun& run, const PaneWriter& out) {
  PeerAddress peer;
  const int fd = AcceptConnection(run.socket(), &peer);
  if (fd < 0) {
    out.print("#>[ERROR: Accepting Connection]\r\n");
    return false;
  }
  run.setSocket(fd);  // the listening socket is closed: one connection per run
  run.event.select(fd, kTcpEvents);
  run.event.accepted();
  out.print(
      FormatLine(kLineCapacity, "#>[Connection From: %s]\r\n", PeerEndpointText(peer).c_str()));
  return true;
}

// Handles one wake-up's events in their fixed order; false when the connection ends.
bool HandleEvents(const NetEvents& events, uint32_t mode, SocketRun& run, const PaneWriter& out) {
  if (events.has(kNetRead)) {
    if (events.readError != 0) {
      out.print("#>[ERROR: FD_READ]\r\n");
      return false;
    }
    const Received got = ReceiveAvailable(run.socket());
    if (!got.bytes.empty()) out.render(mode, got.bytes);
    if (got.failed) {
      out.print("#>[ERROR: Reading Data]\r\n");
      return false;
    }
  }
  if (events.has(kNetWrite)) {
    if (events.writeError != 0) {
      out.print("#>[ERROR: FD_WRITE]\r\n");
      return false;
    }
    out.enable(kTcpSendId, true);
  }
  if (events.has(kNetAccept)) {
    if (events.acceptError != 0) {
      out.print("#>[ERROR: FD_ACCEPT]\r\n");
      return false;
    }
    if (!AcceptPeer(run, out)) return false;
  }
  if (events.has(kNetConnect)) {
    if (events.connectError != 0) {
      out.print("#>[ERROR: FD_CONNECT]\r\n");
      return false;
    }
    out.print("#>[Connected]\r\n");
  }
  return !events.has(kNetClose);
}

// The run up to its end step.
void RunConnection(const TcpRequest& request, SocketRun& run, const PaneWriter& out) {
  const int fd = OpenTcpSocket();
  if (fd < 0) {
    out.error("Failed To Create Socket!");
    return;
  }
  run.setSocket(fd);
  if (!run.event.valid()) {
    out.error(FormatLine(kLineCapacity, "Failed To Create Packet Capturing Event:  Code: %d",
                         run.event.createError()));
    return;
  }
  run.event.select(fd, kTcpEvents);
  if (request.port == 0) {
    out.error("Invalid Port!");
    return;
  }
  const bool started =
      request.listen ? StartListening(request, run, out) : StartConnecting(request, run, out);
  if (!started) return;

  // The flag is looked at before every wait too: a stop whose signal was taken away with the
  // events of the same wake-up is not lost.
  while (!run.stop) {
    if (!run.event.wait() || run.stop) break;
    if (!HandleEvents(run.event.take(), request.mode, run, out)) break;
  }
}

void TcpWorker(TcpRequest request, std::shared_ptr<SocketRun> run, PaneWriter out,
               std::function<void()> ended) {
  RunConnection(request, *run, out);
  run->closeSocket();
  out.print("#>[Connection Closed]\r\n");
  out.onUi([&](QWidget*) { ended(); });
}

}  // namespace

TcpSocketPane::TcpSocketPane(QWidget* mainWindow) : ModulePane(mainWindow) {
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
  FillLocalAddressBox(address);

  AddPortEdit(this, AddGroup(this, "Port :", 297, 2, 84, 30, kMoveRight), kTcpPortId, 303, 72,
              kMoveRight);

  AddRowButton(this, "Connect", kTcpConnectId, 7);
  AddRowButton(this, "Listen", kTcpListenId, 61);
  AddRowButton(this, "Send...", kTcpSendId, 115)->setDefault(true);
  AddRowButton(this, "Close", kTcpCloseId, 169);
  AddEchoDisplayAndOutput(this, 226);
  showRunning(false);
}

TcpSocketPane::~TcpSocketPane() {
  if (run_) {
    run_->abandon();
  }
}

void TcpSocketPane::command(int id) {
  switch (id) {
    case kTcpConnectId:
      start(false);
      break;
    case kTcpListenId:
      start(true);
      break;
    case kTcpCloseId:
      stop();
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
  stop();
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

  run_ = std::make_shared<SocketRun>();
  showRunning(true);
  auto ended = [this, run = run_.get()] { runEnded(run); };
  StartWorkerThread(
      this,
      [request = std::move(request), run = run_, out = PaneWriter(this, run_->token), ended] {
        TcpWorker(request, run, out, ended);
      },
      [this] { runEnded(run_.get()); });
}

// The request reaches the run whatever it is doing, even before its worker has a socket.
void TcpSocketPane::stop() {
  if (!run_) return;
  run_->requestStop();
  PauseUi(200);  // the worker closes and prints its last lines meanwhile
}

void TcpSocketPane::runEnded(const SocketRun* run) {
  if (run_.get() != run) return;
  run_.reset();
  showRunning(false);
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
  if (!run_ || !run_->hasSocket()) return;
  const std::optional<std::vector<uint8_t>> data = dialog.dataToSend();
  if (!data) return;
  const SocketRun::SendResult result = run_->send(*data);
  EchoSentData(this, *data);
  if (result.sent != ssize_t(data->size())) {
    EnableControl(this, kTcpSendId, false);
    // Full send buffer: the next write event gives the button back.
    if (result.sent >= 0 || result.error == EAGAIN) run_->event.sendBlocked();
  }
  dialog.accept();
}

ModulePane* CreateTcpSocketPane(QWidget* mainWindow) {
  return new TcpSocketPane(mainWindow);
}
