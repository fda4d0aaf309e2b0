#pragma once

#include <memory>

#include "shell/module_pane.h"

class SendDialog;
class SocketRun;

// Control ids of the TCP Socket pane.
inline constexpr int kTcpHostId = 1024;
inline constexpr int kTcpListenAddressId = 1034;
inline constexpr int kTcpPortId = 1058;
inline constexpr int kTcpConnectId = 1059;
inline constexpr int kTcpListenId = 1060;
inline constexpr int kTcpSendId = 1;
inline constexpr int kTcpCloseId = 1062;

// The TCP terminal: connects to a host, or listens for one connection, on a worker of its own;
// shows what arrives in the chosen display mode and sends through the send dialog.
class TcpSocketPane : public ModulePane {
  Q_OBJECT

 public:
  explicit TcpSocketPane(QWidget* mainWindow);
  ~TcpSocketPane() override;

  void command(int id) override;
  void closeModule() override;

  // OK of the send dialog: sends its data on the connection, echoes it, ends the dialog.
  // Does nothing while there is no connection socket.
  void SendTcpData(SendDialog& dialog);

  // From the start of a run until its worker's end step.
  bool running() const { return run_ != nullptr; }

 private:
  void start(bool listen);
  void stop();
  void runEnded(const SocketRun* run);
  void showRunning(bool running);

  std::shared_ptr<SocketRun> run_;
};

ModulePane* CreateTcpSocketPane(QWidget* mainWindow);
