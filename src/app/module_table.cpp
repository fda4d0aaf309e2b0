#include "shell/module_table.h"

#include <array>

#include "capture/capture_pane.h"
#include "codec/codec_pane.h"
#include "dns/dns_pane.h"
#include "host/host.h"
#include "netinfo/netinfo_pane.h"
#include "netstat/netstat_pane.h"
#include "ping/ping_pane.h"
#include "sockets/tcp_socket_pane.h"
#include "sockets/udp_socket_pane.h"
#include "whois/whois_pane.h"

namespace {

// Each pane with the service of the window's host it reaches its machine through.
ModulePane* CreatePingPane(QWidget* mainWindow) {
  return new PingPane(mainWindow, WindowHost().ping());
}
ModulePane* CreateDnsPane(QWidget* mainWindow) {
  return new DnsPane(mainWindow, WindowHost().dns());
}
ModulePane* CreateWhoisPane(QWidget* mainWindow) {
  return new WhoisPane(mainWindow, WindowHost().whois());
}
ModulePane* CreateCapturePane(QWidget* mainWindow) {
  return new CapturePane(mainWindow, WindowHost().capture());
}
ModulePane* CreateNetstatPane(QWidget* mainWindow) {
  return new NetstatPane(mainWindow, WindowHost().netstat());
}
ModulePane* CreateNetInfoPane(QWidget* mainWindow) {
  return new NetInfoPane(mainWindow, WindowHost().netinfo());
}
ModulePane* CreateTcpSocketPane(QWidget* mainWindow) {
  return new TcpSocketPane(mainWindow, WindowHost().sockets());
}
ModulePane* CreateUdpSocketPane(QWidget* mainWindow) {
  return new UdpSocketPane(mainWindow, WindowHost().sockets());
}

constexpr std::array<ModuleInfo, 9> kModules = {{
    {kNetstatButton, "Netstat", 96, CloseKind::PaneOnly, CreateNetstatPane},
    {kPingButton, "Ping / Trace", 114, CloseKind::WorkerThread, CreatePingPane},
    {kDnsButton, "DNS", 132, CloseKind::WorkerThread, CreateDnsPane},
    {kWhoisButton, "Whois", 150, CloseKind::WorkerThread, CreateWhoisPane},
    {kCaptureButton, "Packet Capture", 168, CloseKind::Socket, CreateCapturePane},
    {kTcpButton, "TCP Socket", 186, CloseKind::Socket, CreateTcpSocketPane},
    {kUdpButton, "UDP Socket", 204, CloseKind::Socket, CreateUdpSocketPane},
    {kCodecButton, "Base64 / MD5", 222, CloseKind::PaneOnly, CreateCodecPane},
    {kNetInfoButton, "NetInfo", 240, CloseKind::PaneOnly, CreateNetInfoPane},
}};

}  // namespace

std::span<const ModuleInfo> ModuleTable() {
  return kModules;
}
