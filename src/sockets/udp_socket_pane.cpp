#include "sockets/udp_socket_pane.h"

#include <QComboBox>
#include <QPushButton>
#include <array>
#include <optional>
#include <string>

#include "shell/controls.h"
#include "base/format_bounded.h"
#include "shell/message_presenter.h"
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

constexpr uint32_t kUdpEvents = kNetRead | kNetClose;
constexpr size_t kDatagramCapacity = 2000;

// What a run needs from the pane, read when it starts (the controls are disabled meanwhile).
struct UdpRequest {
  uint32_t mode = 0;
  uint16_t port = 0;                        // 0: the system chooses
  std::optional<std::string> localAddress;  // nothing when the address list has no selection
};

// Binds the socket and shows the port it got; false after its message.
bool BindLocal(const UdpRequest& request, SocketRun& run, const PaneWriter& out) {
  if (!request.localAddress) return false;
  // An address the system cannot have, when the text is none: binding to it fails.
  const IpAddress address =
      ParseHostAddress(*request.localAddress).value_or(IpAddress::Ipv4(0xFFFFFFFF));
  if (!SocketForAddress(address, OpenUdpSocket, kUdpEvents, run, out)) return false;
  if (!BindSocket(run.socket(), address, request.port)) {
    out.error("Failed To Bind Socket!\n\nMake sure port is not already in use.");
    return false;
  }
  const uint16_t bound = BoundPort(run.socket());
  out.print(FormatLine(kLineCapacity, "#>[UDP Socket Active (Port:%d)...]\r\n", bound));
  out.onUi(
      [bound](QWidget* pane) { SetControlText(pane, kUdpLocalPortId, QString::number(bound)); });
  return true;
}

// The run up to its end step.
void RunSocket(const UdpRequest& request, SocketRun& run, const PaneWriter& out) {
  const int fd = OpenUdpSocket();
  if (fd < 0) {
    out.error("Failed To Create Socket!");
    return;
  }
  run.setSocket(fd);
  if (!run.event.valid()) {
    out.error(FormatLine(kLineCapacity, "Failed To Create Socket Event:  Code: %d",
                         run.event.createError()));
    return;
  }
  run.event.select(fd, kUdpEvents);
  if (!BindLocal(request, run, out)) return;
  const int bound = run.socket();  // of the local address's family

  std::vector<uint8_t> buffer(kDatagramCapacity);
  // The flag is looked at before every wait too, so a stop is never lost.
  while (!run.stop) {
    if (!run.event.wait() || run.stop) break;
    const NetEvents events = run.event.take();
    if (events.has(kNetRead)) {
      if (events.readError != 0) {
        out.print("#>[ERROR: FD_READ]\r\n");
        break;
      }
      PeerAddress from;
      const ssize_t n = ReceiveDatagram(bound, buffer.data(), buffer.size(), &from);
      if (n > 0) {
        out.print(
            FormatLine(kLineCapacity, "#>Packet From [%s]\r\n", PeerEndpointText(from).c_str()));
        out.render(request.mode, std::vector<uint8_t>(buffer.begin(), buffer.begin() + n));
      } else if (n != kDatagramWouldBlock) {
        continue;  // too long, empty, or an error report of an earlier send: ignored
      }
    }
    if (events.has(kNetClose)) break;
  }
}

void UdpWorker(UdpRequest request, std::shared_ptr<SocketRun> run, PaneWriter out,
               std::function<void()> ended) {
  RunSocket(request, *run, out);
  run->closeSocket();
  out.print("#>[Socket Closed]\r\n");
  out.onUi([&](QWidget*) { ended(); });
}

}  // namespace

UdpSocketPane::UdpSocketPane(QWidget* mainWindow) : ModulePane(mainWindow) {
  // The two addresses share the room the pane has beyond its size; each port stays beside its
  // address.
  QGroupBox* addressGroup = AddGroup(this, "Bind To Local IP :", 7, 2, 104, 30, Across(0, 0.5));
  auto* address = new QComboBox(this);
  SetControlId(address, kUdpLocalAddressId);
  place(address, 13, 15, 92, 12, Across(0, 0.5));
  PutInGroup(address, addressGroup);
  FillLocalAddressBox(address);

  const Follow half = Across(0.5, 0.5);
  AddPortEdit(this, AddGroup(this, "Local Port :", 116, 2, 60, 30, half), kUdpLocalPortId, 122, 48,
              half);

  QGroupBox* remoteGroup = AddGroup(this, "Send To Remote IP :", 181, 2, 135, 30, Across(0.5, 1));
  auto* remote = new QComboBox(this);
  SetControlId(remote, kUdpRemoteHostId);
  remote->setEditable(true);
  remote->setInsertPolicy(QComboBox::NoInsert);
  place(remote, 187, 15, 123, 12, Across(0.5, 1));
  PutInGroup(remote, remoteGroup);

  AddPortEdit(this, AddGroup(this, "Remote Port :", 321, 2, 60, 30, kMoveRight), kUdpRemotePortId,
              327, 48, kMoveRight);

  AddRowButton(this, "Start", kUdpStartId, 7);
  AddRowButton(this, "Close", kUdpCloseId, 61);
  AddRowButton(this, "Send...", kUdpSendId, 115)->setDefault(true);
  AddEchoDisplayAndOutput(this, 172);
  showRunning(false);
}

UdpSocketPane::~UdpSocketPane() {
  if (run_) {
    run_->abandon();
  }
}

void UdpSocketPane::command(int id) {
  switch (id) {
    case kUdpStartId:
      start();
      break;
    case kUdpCloseId:
      stop();
      break;
    case kUdpSendId: {
      SendDialog dialog(this, [this](SendDialog& d) { SendUdpData(d); });
      dialog.exec();
      break;
    }
    default:
      break;
  }
}

void UdpSocketPane::closeModule() {
  stop();
}

void UdpSocketPane::start() {
  if (run_) return;
  UdpRequest request;
  request.mode = DisplayModeFromSelection(this, kDisplaySelectorId);
  request.port = PortFromText(ReadControlText(this, kUdpLocalPortId));
  if (auto* address = FindControl<QComboBox>(this, kUdpLocalAddressId);
      address != nullptr && address->currentIndex() >= 0) {
    request.localAddress = BoundedText(address->currentText());
  }

  run_ = std::make_shared<SocketRun>();
  showRunning(true);
  auto ended = [this, run = run_.get()] { runEnded(run); };
  StartWorkerThread(
      this,
      [request = std::move(request), run = run_, out = PaneWriter(this, run_->token), ended] {
        UdpWorker(request, run, out, ended);
      },
      [this] { runEnded(run_.get()); });
}

// The request reaches the run whatever it is doing, even before its worker has a socket.
void UdpSocketPane::stop() {
  if (!run_) return;
  run_->requestStop();
  PauseUi(200);  // the worker closes and prints its last lines meanwhile
}

void UdpSocketPane::runEnded(const SocketRun* run) {
  if (run_.get() != run) return;
  run_.reset();
  showRunning(false);
}

void UdpSocketPane::showRunning(bool running) {
  for (int id : {kUdpStartId, kDisplaySelectorId, kUdpLocalAddressId, kUdpLocalPortId}) {
    EnableControl(this, id, !running);
  }
  EnableControl(this, kUdpSendId, running);
  EnableControl(this, kUdpCloseId, running);
}

void UdpSocketPane::SendUdpData(SendDialog& dialog) {
  if (!run_ || !run_->hasSocket()) return;
  AddToHistory(FindControl<QComboBox>(this, kUdpRemoteHostId));
  std::string host = ReadControlText(this, kUdpRemoteHostId);
  std::optional<IpAddress> address = ParseHostAddress(host);
  if (!address) {
    char resolved[kInputCapacity] = {};
    int found = 0;
    RunWithoutStall([&] { found = ResolveHost(host.c_str(), resolved, sizeof resolved); });
    if (!run_ || !run_->hasSocket()) return;  // the run ended meanwhile
    if (!found) {
      ShowError(&dialog, "Failed To Resolve Host Name!");
      dialog.reject();
      return;
    }
    address = ParseIpAddress(resolved).value_or(IpAddress::Ipv4(0xFFFFFFFF));
  }
  const uint16_t port = PortFromText(ReadControlText(this, kUdpRemotePortId));
  if (port == 0) {
    ShowError(&dialog, "Invalid Port!");
    dialog.reject();
    return;
  }
  const std::optional<std::vector<uint8_t>> data = dialog.dataToSend();
  if (!data) return;
  run_->sendTo(*data, *address, port);  // a lost datagram is not reported
  EchoSentData(this, *data);
  dialog.accept();
}

ModulePane* CreateUdpSocketPane(QWidget* mainWindow) {
  return new UdpSocketPane(mainWindow);
}
