#include <mutex>
#include <utility>
#include <vector>

#include "capture/capture_service.h"
#include "dns/dns_service.h"
#include "host/host.h"
#include "host/local_services.h"
#include "netinfo/netinfo_service.h"
#include "netstat/netstat_service.h"
#include "ping/ping_service.h"
#include "sockets/socket_service.h"
#include "sys/resolve_host.h"
#include "whois/whois_service.h"

namespace {

class LocalHost : public Host {
 public:
  explicit LocalHost(const CaptureExclusion& exclusion = {})
      : capture_(NewLocalCaptureService(exclusion)) {}

  DnsService& dns() override { return *dns_; }
  WhoisService& whois() override { return *whois_; }
  PingService& ping() override { return *ping_; }
  CaptureService& capture() override { return *capture_; }
  SocketService& sockets() override { return *sockets_; }
  NetstatService& netstat() override { return *netstat_; }
  NetInfoService& netinfo() override { return *netinfo_; }

 private:
  std::unique_ptr<DnsService> dns_ = NewLocalDnsService();
  std::unique_ptr<WhoisService> whois_ = NewLocalWhoisService();
  std::unique_ptr<PingService> ping_ = NewLocalPingService();
  std::unique_ptr<CaptureService> capture_;
  std::unique_ptr<SocketService> sockets_ = NewLocalSocketService();
  std::unique_ptr<NetstatService> netstat_ = NewLocalNetstatService();
  std::unique_ptr<NetInfoService> netinfo_ = NewLocalNetInfoService();
};

std::mutex g_hostMutex;
Host* g_windowHost = nullptr;

// Every host a window was given: never destroyed, as detached workers may still use one.
void Keep(std::unique_ptr<Host> host) {
  static auto* kept = new std::vector<std::unique_ptr<Host>>;
  g_windowHost = host.get();
  kept->push_back(std::move(host));
}

}  // namespace

std::unique_ptr<Host> NewLocalHost() {
  return std::make_unique<LocalHost>();
}

std::unique_ptr<Host> NewLocalHost(const CaptureExclusion& captureExclusion) {
  return std::make_unique<LocalHost>(captureExclusion);
}

Host& WindowHost() {
  std::lock_guard<std::mutex> lock(g_hostMutex);
  if (g_windowHost == nullptr) Keep(NewLocalHost());
  return *g_windowHost;
}

void SetWindowHost(std::unique_ptr<Host> host) {
  std::lock_guard<std::mutex> lock(g_hostMutex);
  Keep(std::move(host));
}

int ResolveHostHere(const char* name, char* destination, size_t capacity, const RunToken* token) {
  if (token == nullptr) return ResolveHost(name, destination, capacity);
  return ResolveHostUnlessStopped(name, destination, capacity, token->wakeFd());
}
