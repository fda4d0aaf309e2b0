#include <cerrno>

#include "host/remote_services.h"
#include "netinfo/netinfo_service.h"

namespace {

class RemoteNetInfoService : public NetInfoService {
 public:
  explicit RemoteNetInfoService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  // Until the agent serves NetInfo: nothing can be read, nothing flushed.
  NetworkParams networkParams() override { return {}; }
  std::optional<std::vector<AdapterRecord>> adapters() override { return std::nullopt; }
  std::optional<std::vector<std::string>> dnsServers() override { return std::nullopt; }
  std::optional<DhcpLease> dhcpLease(const AdapterRecord&) override { return std::nullopt; }
  std::optional<InterfaceStatistics> statistics(int, const std::string&) override {
    return std::nullopt;
  }
  void endStatistics() override {}
  int flushNeighbours(int) override { return ENOSYS; }

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<NetInfoService> NewRemoteNetInfoService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteNetInfoService>(std::move(link));
}
