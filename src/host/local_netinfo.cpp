#include <memory>
#include <mutex>
#include <utility>

#include "dns/resolver_config.h"
#include "host/helper_client.h"
#include "host/local_services.h"
#include "netinfo/netinfo_service.h"
#include "netinfo/netinfo_system.h"

namespace {

class LocalNetInfoService : public NetInfoService {
 public:
  explicit LocalNetInfoService(NetInfoSources sources)
      : sources_(std::move(sources)), statistics_(sources_.interfaceDirectory) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }

  NetworkParams networkParams() override { return ReadNetworkParams(sources_.resolverConfig); }

  std::optional<std::vector<AdapterRecord>> adapters() override { return ReadAdapters(); }

  std::optional<std::vector<std::string>> dnsServers() override {
    const std::optional<ResolverConfig> config = ReadResolverConfig(sources_.resolverConfig);
    if (!config) return std::nullopt;
    std::vector<std::string> servers;
    for (const NameServer& server : config->allNameServers) servers.push_back(server.text());
    return servers;
  }

  std::optional<DhcpLease> dhcpLease(const AdapterRecord& adapter) override {
    return FindDhcpLease(adapter, sources_.leaseDirectories);
  }

  std::optional<InterfaceStatistics> statistics(int index, const std::string& name) override {
    std::lock_guard<std::mutex> lock(statisticsMutex_);
    InterfaceStatistics reading;
    if (!statistics_.read(index, name, reading)) return std::nullopt;
    return reading;
  }

  void endStatistics() override {
    std::lock_guard<std::mutex> lock(statisticsMutex_);
    statistics_.close();
  }

  int flushNeighbours(int index) override {
    auto request = NewHelperRecord<HelperFlushRequest>(kHelperFlush);
    request.interfaceIndex = index;
    request.family = kWireIpv4;
    HelperCall call(request);
    HelperReply reply;
    return HelperCall::Finish(call, reply, kHelperQuickTimeoutMs);
  }

 private:
  const NetInfoSources sources_;
  std::mutex statisticsMutex_;  // readings may come from several threads
  InterfaceStatsReader statistics_;
};

}  // namespace

std::unique_ptr<NetInfoService> NewLocalNetInfoService() {
  return NewLocalNetInfoService(NetInfoSources());
}

std::unique_ptr<NetInfoService> NewLocalNetInfoService(const NetInfoSources& sources) {
  return std::make_unique<LocalNetInfoService>(sources);
}
