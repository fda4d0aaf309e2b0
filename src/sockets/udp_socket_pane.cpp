#include "sockets/udp_socket_pane.h"

#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <array>
#include <optional>
#include <string>

#include "base/format_bounded.h"
#include "shell/controls.h"
#include "shell/message_presenter.h"
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
struct UdpRequest {
  uint32_t mode = 0;
  uint16_t port = 0;                        // 0: the system chooses
  std::optional<std::string> localAddress;  // nothing when the address list has no selection
};

// Binds the socket and shows the port it got; false after its message.
bool BindLocal(const UdpRequest& request, SocketService& host, SocketRun& run,
               const PaneWriter& out) {
  if (!request.localAddress) return false;
  // An address the system cannot have, when the text is none: binding to it fails.
  const IpAddress address =
      ParseHostAddress(*request.localAddress).value_or(IpAddress::Ipv4(0xFFFFFFFF));
  SocketOpening opening = host.bindUdp(address, request.port, *run.stop);
  switch (opening.failed) {
    case SocketStep::kNone:
      if (!opening.session) return false;  // stopped while the host held the opening back
      break;
    case SocketStep::kEvent:
      out.error(
          FormatLine(kLineCapacity, "Failed To Create Socket Event:  Code: %d", opening.error));
      return false;
    case SocketStep::kBind:
      out.error("Failed To Bind Socket!\n\nMake sure port is not already in use.");
      return false;
    default:
      out.error("Failed To Create Socket!");
      return false;
  }
  run.setSession(std::move(opening.session));
  const uint16_t bound = opening.boundPort;
  out.print(FormatLine(kLineCapacity, "#>[UDP Socket Active (Port:%d)...]\r\n", bound));
  out.onUi(
      [bound](QWidget* pane) { SetControlText(pane, kUdpLocalPortId, QString::number(bound)); });
  return true;
}

// The run up to its end step.
void RunSocket(const UdpRequest& request, SocketService& host, SocketRun& run,
               const PaneWriter& out) {
  const RunToken& stop = *run.stop;
  if (stop.wakeFd() < 0) {
    out.error(
        FormatLine(kLineCapacity, "Failed To Create Socket Event:  Code: %d", stop.createError()));
    return;
  }
  if (!BindLocal(request, host, run, out)) return;

  const std::shared_ptr<SocketSession> session = run.session();
  SocketUpdate update;
  // The stop is looked at before every wait too, so a stop is never lost.
  while (!stop.cancelled() && session->wait(update, stop)) {
    if (update.has(kSocketRead)) {
      if (update.readError != 0) {
        out.print("#>[ERROR: FD_READ]\r\n");
        break;
      }
      if (!update.bytes.empty()) {
        out.print(FormatLine(kLineCapacity, "#>Packet From [%s]\r\n",
                             SocketPeerText(update.peer).c_str()));
        out.render(request.mode, update.bytes);
      } else if (update.readFailed) {
        continue;  // too long, empty, or an error report of an earlier send: ignored
      }
    }
    if (update.has(kSocketClose)) break;
  }
}

// `host` outlives every run.
void UdpWorker(UdpRequest request, SocketService& host, std::shared_ptr<SocketRun> run,
               PaneWriter out, std::function<void()> ended) {
  RunSocket(request, host, *run, out);
  run->closeSession();
  out.print("#>[Socket Closed]\r\n");
  out.onUi([&](QWidget*) { ended(); });
}

}  // namespace

UdpSocketPane::UdpSocketPane(QWidget* mainWindow, SocketService& host)
    : ModulePane(mainWindow),
      host_(host),
      run_(this, [this](bool running) { showRunning(running); }) {
  // The two addresses share the room the pane has beyond its size; each port stays beside its
  // address.
  QGroupBox* addressGroup = AddGroup(this, "Bind To Local IP :", 7, 2, 104, 30, Across(0, 0.5));
  auto* address = new QComboBox(this);
  SetControlId(address, kUdpLocalAddressId);
  place(address, 13, 15, 92, 12, Across(0, 0.5));
  PutInGroup(address, addressGroup);
  fillingAddresses_ = true;
  FillLocalAddressBox(address, host_, [this] { fillingAddresses_ = false; });

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

UdpSocketPane::~UdpSocketPane() = default;

void UdpSocketPane::command(int id) {
  switch (id) {
    case kUdpStartId:
      start();
      break;
    case kUdpCloseId:
      run_.stop();
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
  run_.stop();
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

  run_.start([this, &request](const std::shared_ptr<SocketRun>& run, std::function<void()> ended) {
    return [request = std::move(request), host = &host_, run, out = PaneWriter(this, run->token),
            ended = std::move(ended)] { UdpWorker(request, *host, run, out, ended); };
  });
}

void UdpSocketPane::showRunning(bool running) {
  for (int id : {kUdpStartId, kDisplaySelectorId, kUdpLocalAddressId, kUdpLocalPortId}) {
    EnableControl(this, id, !running);
  }
  EnableControl(this, kUdpSendId, running);
  EnableControl(this, kUdpCloseId, running);
}

void UdpSocketPane::SendUdpData(SendDialog& dialog) {
  if (!run_ || !run_->hasSession()) return;
  AddToHistory(FindControl<QComboBox>(this, kUdpRemoteHostId));
  std::string host = ReadControlText(this, kUdpRemoteHostId);
  if (const std::optional<IpAddress> address = ParseHostAddress(host)) {
    sendTo(dialog, *address);
  } else {
    lookUpThenSend(dialog, std::move(host));
  }
}

void UdpSocketPane::lookUpThenSend(SendDialog& dialog, std::string host) {
  EnableControl(&dialog, kSendOkId, false);  // one lookup, one datagram
  const RunTokenPtr lookup = NewRunToken();
  connect(&dialog, &QDialog::finished, &dialog, [lookup] { lookup->cancel(); });
  QPointer<SendDialog> open(&dialog);
  CallOffUiThread(
      &dialog,
      [service = &host_, host = std::move(host), lookup]() -> std::optional<std::string> {
        char resolved[kInputCapacity] = {};
        if (!service->resolveHost(host.c_str(), resolved, sizeof resolved, lookup.get())) {
          return std::nullopt;
        }
        return std::string(resolved);
      },
      // Runs only while the dialog is open, so the pane that owns it is there too.
      [this, open](const std::optional<std::string>& resolved) {
        EnableControl(open, kSendOkId, true);
        if (!run_ || !run_->hasSession()) return;  // the run ended meanwhile
        if (!resolved) {
          ShowError(open, "Failed To Resolve Host Name!");
          open->reject();
          return;
        }
        sendTo(*open, ParseIpAddress(*resolved).value_or(IpAddress::Ipv4(0xFFFFFFFF)));
      });
}

void UdpSocketPane::sendTo(SendDialog& dialog, const IpAddress& address) {
  const uint16_t port = PortFromText(ReadControlText(this, kUdpRemotePortId));
  if (port == 0) {
    ShowError(&dialog, "Invalid Port!");
    dialog.reject();
    return;
  }
  const std::optional<std::vector<uint8_t>> data = dialog.dataToSend();
  if (!data) return;
  if (const std::shared_ptr<SocketSession> session = run_->session()) {
    session->sendTo(*data, address, port);  // a lost datagram is not reported
  }
  EchoSentData(this, *data);
  dialog.accept();
}
