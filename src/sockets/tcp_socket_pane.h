#pragma once

#include <memory>

#include "shell/module_pane.h"
#include "shell/pane_run.h"

class SendDialog;
class SocketRun;
class SocketService;

// Control ids of the TCP Socket pane.
inline constexpr int kTcpHostId = 1024;
inline constexpr int kTcpListenAddressId = 1034;
inline constexpr int kTcpPortId = 1058;
inline constexpr int kTcpConnectId = 1059;
inline constexpr int kTcpListenId = 1060;
inline constexpr int kTcpSendId = 1;
inline constexpr int kTcpCloseId = 1062;

// The TCP terminal: connects to a host, or listens for one connection, on a worker of its own;
// shows what arrives in the chosen display mode and sends through the send dialog. It reaches its
// machine through `host`, which outlives it.
class TcpSocketPane : public ModulePane {
  Q_OBJECT

 public:
  TcpSocketPane(QWidget* mainWindow, SocketService& host);
  ~TcpSocketPane() override;

  void command(int id) override;
  void closeModule() override;

  // OK of the send dialog: sends its data on the connection, echoes it, ends the dialog.
  // Does nothing while there is no connection socket.
  void SendTcpData(SendDialog& dialog);

  // From the start of a run until its worker's end step.
  bool running() const { return run_.running(); }
  // From the pane's making until the host's address list has filled the listen list.
  bool fillingAddresses() const { return fillingAddresses_; }

 private:
  void start(bool listen);
  void showRunning(bool running);

  SocketService& host_;
  PaneRun<SocketRun> run_;
  bool fillingAddresses_ = false;
};
