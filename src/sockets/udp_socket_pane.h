#pragma once

#include <memory>
#include <string>

#include "shell/module_pane.h"
#include "shell/pane_run.h"

class IpAddress;
class SendDialog;
class SocketRun;
class SocketService;

// Control ids of the UDP Socket pane.
inline constexpr int kUdpLocalAddressId = 1034;
inline constexpr int kUdpLocalPortId = 1058;
inline constexpr int kUdpRemoteHostId = 1024;
inline constexpr int kUdpRemotePortId = 1059;
inline constexpr int kUdpStartId = 1070;
inline constexpr int kUdpCloseId = 1062;
inline constexpr int kUdpSendId = 1;

// The UDP terminal: binds one socket to a local address and port on a worker of its own, shows
// every datagram with its sender, and sends datagrams to the remote address and port typed in
// the pane through the send dialog. It reaches its machine through `host`, which outlives it.
class UdpSocketPane : public ModulePane {
  Q_OBJECT

 public:
  UdpSocketPane(QWidget* mainWindow, SocketService& host);
  ~UdpSocketPane() override;

  void command(int id) override;
  void closeModule() override;

  // OK of the send dialog: one datagram to the pane's remote address and port, echoed; ends
  // the dialog. Does nothing while there is no socket. A host name is looked up off the UI
  // thread with the dialog open and its OK button off; Cancel ends the lookup.
  void SendUdpData(SendDialog& dialog);

  // From the start of a run until its worker's end step.
  bool running() const { return run_.running(); }
  // From the pane's making until the host's address list has filled the local list.
  bool fillingAddresses() const { return fillingAddresses_; }

 private:
  void start();
  void showRunning(bool running);
  void lookUpThenSend(SendDialog& dialog, std::string host);
  void sendTo(SendDialog& dialog, const IpAddress& address);

  SocketService& host_;
  PaneRun<SocketRun> run_;
  bool fillingAddresses_ = false;
};
