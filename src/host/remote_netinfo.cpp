#include <cerrno>

#include "host/remote_services.h"
#include "netinfo/netinfo_service.h"
#include "wire/netinfo_records.h"
#include "wire/services.h"

namespace {

class RemoteNetInfoService : public NetInfoService {
 public:
  explicit RemoteNetInfoService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  // A host that cannot tell: the facts of one whose name and configuration cannot be read.
  NetworkParams networkParams() override {
    return Ask(kNetInfoParams, {}, DecodeNetworkParams).value_or(NetworkParams());
  }

  std::optional<std::vector<AdapterRecord>> adapters() override {
    return Ask(kNetInfoAdapters, {}, DecodeAdapterList).value_or(std::nullopt);
  }

  std::optional<std::vector<std::string>> dnsServers() override {
    return Ask(kNetInfoDnsServers, {}, DecodeDnsServerTexts).value_or(std::nullopt);
  }

  std::optional<DhcpLease> dhcpLease(const AdapterRecord& adapter) override {
    return Ask(kNetInfoDhcpLease, EncodeAdapterRecord(adapter), DecodeDhcpLease)
        .value_or(std::nullopt);
  }

  std::optional<InterfaceStatistics> statistics(int index, const std::string& name) override {
    return Ask(kNetInfoStatistics, EncodeStatisticsAsked({index, name}), DecodeInterfaceStatistics)
        .value_or(std::nullopt);
  }

  void endStatistics() override {
    CallOverLink(*link_, kServiceNetInfo, kNetInfoEndStatistics, {}, nullptr,
                 [](const std::vector<uint8_t>&) { return false; });
  }

  int flushNeighbours(int index) override {
    const auto decode = [](const std::vector<uint8_t>& bytes) {
      return DecodeNetInfoNumber(bytes, 0, 4095);
    };
    int error = 0;
    const std::optional<int> result =
        Ask(kNetInfoFlushNeighbours, EncodeNetInfoNumber(index), decode, &error);
    if (result) return *result;
    return error != 0 ? error : EIO;
  }

 private:
  // One operation's single reply, decoded; nothing when the agent failed it, the link was lost
  // or the reply could not be read (`error` then says which, where given).
  template <typename Decode>
  auto Ask(uint16_t operation, const std::vector<uint8_t>& request, Decode decode,
           int* error = nullptr) -> decltype(decode(request)) {
    decltype(decode(request)) value;
    const int status = CallOverLink(*link_, kServiceNetInfo, operation, request, nullptr,
                                    [&](const std::vector<uint8_t>& message) {
                                      value = decode(message);
                                      return value.has_value();
                                    });
    if (error != nullptr) *error = status;
    if (status != 0) return std::nullopt;
    return value;
  }

  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<NetInfoService> NewRemoteNetInfoService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteNetInfoService>(std::move(link));
}
