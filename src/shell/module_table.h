#pragma once

#include <span>

class ModulePane;
class QWidget;

enum class CloseKind { PaneOnly, WorkerThread, Socket };

// One row per module, in button order: the order of the buttons, of pane creation and of the
// close operations at shutdown.
struct ModuleInfo {
  int buttonId;
  const char* label;
  int buttonTop;  // dialog units
  CloseKind closeKind;
  ModulePane* (*create)(QWidget* mainWindow);
};

std::span<const ModuleInfo> ModuleTable();

// File > Connect To Host...: asks for a destination and starts a window of its own for it.
void ConnectToHost(QWidget* window);

// Button ids.
inline constexpr int kNetstatButton = 1013;
inline constexpr int kPingButton = 1015;
inline constexpr int kDnsButton = 1025;
inline constexpr int kWhoisButton = 1026;
inline constexpr int kCaptureButton = 1027;
inline constexpr int kTcpButton = 1028;
inline constexpr int kUdpButton = 1029;
inline constexpr int kCodecButton = 1030;
inline constexpr int kNetInfoButton = 1031;
