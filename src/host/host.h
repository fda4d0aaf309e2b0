#pragma once

#include <functional>
#include <memory>
#include <string>

class CaptureService;
class DnsService;
class NetInfoService;
class NetstatService;
class PingService;
class SocketService;
class WhoisService;

// The machine a window inspects, with every service its panes reach it through: this computer
// (NewLocalHost), or a host behind a byte stream (an agent). A pane cannot tell them apart.
class Host {
 public:
  virtual ~Host() = default;

  virtual DnsService& dns() = 0;
  virtual WhoisService& whois() = 0;
  virtual PingService& ping() = 0;
  virtual CaptureService& capture() = 0;
  virtual SocketService& sockets() = 0;
  virtual NetstatService& netstat() = 0;
  virtual NetInfoService& netinfo() = 0;

  // `lost(why)` is called once, on a thread of the host's, when the connection to a host behind
  // a byte stream is lost (every service then fails as a broken socket does); `why` is a line for
  // the user. This computer is never lost.
  virtual void onConnectionLost(std::function<void(const std::string& why)> lost) { (void)lost; }
};

struct CaptureExclusion;

// This computer: the OS code in this process, pelorin-helper for the privileged work.
std::unique_ptr<Host> NewLocalHost();
// The same, its captures leaving out one connection (pelorin-agent's own ssh session).
std::unique_ptr<Host> NewLocalHost(const CaptureExclusion& captureExclusion);

// The host this process's window inspects (one process, one host): this computer unless another
// was set before the window was made.
Host& WindowHost();
void SetWindowHost(std::unique_ptr<Host> host);
