#include <algorithm>
#include <memory>
#include <utility>

#include "dns/dns_service.h"
#include "dns/resolver_config.h"
#include "host/local_services.h"

namespace {

class LocalDnsService : public DnsService {
 public:
  explicit LocalDnsService(std::string resolverConfig)
      : resolverConfig_(std::move(resolverConfig)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }

  std::string defaultServerText() override { return DefaultDnsServerText(resolverConfig_); }

  std::optional<DnsIpv6Server> parseIpv6Server(const std::string& text) override {
    return ParseDnsIpv6Server(text);
  }

  DnsAnswer exchange(const DnsQuery& query, const RunToken& token) override {
    DnsAnswer answer;
    answer.records.resize(size_t(std::max(query.recordCapacity, 0)));
    DnsRequest request;
    request.server = query.server;
    request.serverIpv6 = query.serverIpv6;
    request.queryId = query.queryId;
    request.queryType = query.queryType;
    request.queryName = query.name.c_str();
    request.recursionDesired = query.recursionDesired ? 1 : 0;
    request.timeoutMs = query.timeoutMs;
    request.recordCount = query.recordCapacity;
    request.records = answer.records.data();
    request.wakeFd = token.wakeFd();
    answer.result = DnsExchange(&request);
    answer.responseCode = request.responseCode;
    answer.recordCount = answer.result == kDnsOk ? request.recordCount : 0;
    answer.records.resize(size_t(std::clamp(answer.recordCount, 0, query.recordCapacity)));
    return answer;
  }

 private:
  const std::string resolverConfig_;
};

}  // namespace

std::unique_ptr<DnsService> NewLocalDnsService(const std::string& resolverConfig) {
  return std::make_unique<LocalDnsService>(resolverConfig);
}
