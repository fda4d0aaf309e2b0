#include "shell/module_table.h"

#include <array>

#include "codec/codec_pane.h"
#include "dns/dns_pane.h"
#include "ping/ping_pane.h"
#include "shell/placeholder_pane.h"
#include "sockets/tcp_socket_pane.h"
#include "sockets/udp_socket_pane.h"
#include "whois/whois_pane.h"

namespace {

ModulePane* CreateNetstat(QWidget* w) {
  return CreatePlaceholderPane(w, "Netstat");
}
ModulePane* CreatePing(QWidget* w) {
  return CreatePingPane(w);
}
ModulePane* CreateDns(QWidget* w) {
  return CreateDnsPane(w);
}
ModulePane* CreateWhois(QWidget* w) {
  return CreateWhoisPane(w);
}
ModulePane* CreateCapture(QWidget* w) {
  return CreatePlaceholderPane(w, "Packet Capture");
}
ModulePane* CreateTcp(QWidget* w) {
  return CreateTcpSocketPane(w);
}
ModulePane* CreateUdp(QWidget* w) {
  return CreateUdpSocketPane(w);
}
ModulePane* CreateCodec(QWidget* w) {
  return CreateCodecPane(w);
}
ModulePane* CreateNetInfo(QWidget* w) {
  return CreatePlaceholderPane(w, "NetInfo");
}

constexpr std::array<ModuleInfo, 9> kModules = {{
    {kNetstatButton, "Netstat", 96, CloseKind::PaneOnly, CreateNetstat},
    {kPingButton, "Ping / Trace", 114, CloseKind::WorkerThread, CreatePing},
    {kDnsButton, "DNS", 132, CloseKind::WorkerThread, CreateDns},
    {kWhoisButton, "Whois", 150, CloseKind::WorkerThread, CreateWhois},
    {kCaptureButton, "Packet Capture", 168, CloseKind::Socket, CreateCapture},
    {kTcpButton, "TCP Socket", 186, CloseKind::Socket, CreateTcp},
    {kUdpButton, "UDP Socket", 204, CloseKind::Socket, CreateUdp},
    {kCodecButton, "Base64 / MD5", 222, CloseKind::PaneOnly, CreateCodec},
    {kNetInfoButton, "NetInfo", 240, CloseKind::PaneOnly, CreateNetInfo},
}};

}  // namespace

std::span<const ModuleInfo> ModuleTable() {
  return kModules;
}
