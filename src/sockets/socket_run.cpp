#include "sockets/socket_run.h"

#include "shell/controls.h"
#include "shell/message_presenter.h"
#include "shell/output.h"
#include "shell/payload_display.h"
#include "shell/ui_thread.h"

bool SocketRun::hasSession() const {
  std::lock_guard lock(mutex_);
  return session_ != nullptr;
}

std::shared_ptr<SocketSession> SocketRun::session() const {
  std::lock_guard lock(mutex_);
  return session_;
}

void SocketRun::setSession(std::shared_ptr<SocketSession> session) {
  std::lock_guard lock(mutex_);
  session_ = std::move(session);
}

void SocketRun::closeSession() {
  std::shared_ptr<SocketSession> session;
  {
    std::lock_guard lock(mutex_);
    session = std::move(session_);
  }
  if (session) session->close();
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
