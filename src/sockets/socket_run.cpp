#include "sockets/socket_run.h"

#include <cerrno>

#include "shell/controls.h"
#include "shell/message_presenter.h"
#include "shell/output.h"
#include "shell/payload_display.h"
#include "shell/ui_thread.h"
#include "sys/socket_io.h"

SocketRun::~SocketRun() {
  CloseSocket(fd_);
}

bool SocketRun::hasSocket() const {
  std::lock_guard lock(mutex_);
  return fd_ >= 0;
}

int SocketRun::socket() const {
  std::lock_guard lock(mutex_);
  return fd_;
}

void SocketRun::setSocket(int fd) {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0 && fd_ != fd) CloseSocket(fd_);
  fd_ = fd;
}

void SocketRun::closeSocket() {
  setSocket(-1);
}

void SocketRun::requestStop() {
  stop = true;
  event.signal();
}

void SocketRun::abandon() {
  token->cancel();
  requestStop();
}

SocketRun::SendResult SocketRun::send(const std::vector<uint8_t>& data) {
  std::lock_guard lock(mutex_);
  SendResult result;
  result.sent = fd_ >= 0 ? SendBytes(fd_, data.data(), data.size()) : -1;
  result.error = result.sent < 0 ? (fd_ >= 0 ? errno : EBADF) : 0;
  return result;
}

SocketRun::SendResult SocketRun::sendTo(const std::vector<uint8_t>& data, const IpAddress& address,
                                        uint16_t port) {
  std::lock_guard lock(mutex_);
  SendResult result;
  result.sent = fd_ >= 0 ? SendDatagram(fd_, data.data(), data.size(), address, port) : -1;
  result.error = result.sent < 0 ? (fd_ >= 0 ? errno : EBADF) : 0;
  return result;
}

PaneWriter::PaneWriter(QWidget* pane, RunTokenPtr token, OutputBatch::Overflow overflow)
    : pane_(pane),
      token_(std::move(token)),
      output_(std::make_shared<OutputBatch>(token_, pane_, kOutputPaneId,
                                            OutputBatch::kDefaultCapacity, overflow)) {}

bool PaneWriter::onUi(const std::function<void(QWidget* pane)>& fn) const {
  output_->flush();
  return RunOnUiThread(token_, [&] { fn(pane_); });
}

void PaneWriter::print(std::string_view utf8) const {
  output_->append(utf8);
}

bool PaneWriter::printIfRoom(const std::function<std::string()>& make) const {
  return output_->appendIfRoom(make);
}

void PaneWriter::render(uint32_t mode, const std::vector<uint8_t>& bytes) const {
  output_->append(PayloadText(mode, bytes.data(), bytes.size()));
}

void PaneWriter::enable(int controlId, bool enabled) const {
  onUi([&](QWidget* pane) { EnableControl(pane, controlId, enabled); });
}

void PaneWriter::error(const std::string& text) const {
  onUi([&](QWidget* pane) { ShowError(pane, "%s", text.c_str()); });
}

bool SocketForAddress(const IpAddress& address, int (*open)(IpAddress::Family), uint32_t events,
                      SocketRun& run, const PaneWriter& out) {
  if (address.isIpv4()) return true;
  const int fd = open(IpAddress::Family::kIpv6);
  if (fd < 0) {
    out.error("Failed To Create Socket!");
    return false;
  }
  run.setSocket(fd);  // closes the IPv4 one
  run.event.select(fd, events);
  return true;
}
