#include <cerrno>

#include "host/remote_services.h"
#include "netstat/netstat_service.h"
#include "wire/netstat_records.h"
#include "wire/services.h"

namespace {

class RemoteNetstatService : public NetstatService {
 public:
  explicit RemoteNetstatService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  // The batches in turn, each decoded as it comes; a lost agent, a refused batch or a host that
  // could not read its tables fails the refresh.
  std::shared_ptr<const EndpointSnapshot> endpoints(const RunToken* token) override {
    auto snapshot = std::make_shared<EndpointSnapshot>();
    const int error = CallOverLink(*link_, kServiceNetstat, kNetstatEndpoints, {}, token,
                                   [&](const std::vector<uint8_t>& message) {
                                     return DecodeEndpointBatch(message, snapshot->records);
                                   });
    if (error != 0) return nullptr;
    return snapshot;
  }

  int killConnection(const EndpointRecord& record) override {
    const std::optional<uint64_t> error =
        call<uint64_t>(kNetstatKillConnection, EncodeEndpointRecord(record), DecodeNetstatNumber);
    if (!error) return EPIPE;
    return *error <= UINT32_MAX && int32_t(*error) >= 0 ? int(int32_t(*error)) : EPROTO;
  }

  TerminateResult terminateProcess(uint32_t processId) override {
    return call<TerminateResult>(kNetstatTerminateProcess, EncodeNetstatNumber(processId),
                                 DecodeTerminateResult)
        .value_or(TerminateResult::CannotOpen);
  }

  std::optional<ExecutableFile> executableFile(uint32_t processId) override {
    return call<std::optional<ExecutableFile>>(kNetstatExecutableFile,
                                               EncodeNetstatNumber(processId), DecodeExecutableFile)
        .value_or(std::nullopt);
  }

  ProcessText processText(uint32_t processId, bool imagePath, size_t capacity) override {
    if (capacity == 0 || capacity > kNetstatTextLimit) return {};
    ProcessText answer =
        call<ProcessText>(kNetstatProcessText,
                          EncodeProcessTextAsked({processId, imagePath, uint32_t(capacity)}),
                          DecodeProcessText)
            .value_or(ProcessText{});
    if (answer.text.size() >= capacity) return {};  // more than was asked for
    return answer;
  }

  uint64_t workingSet(uint32_t processId) override {
    return call<uint64_t>(kNetstatWorkingSet, EncodeNetstatNumber(processId), DecodeNetstatNumber)
        .value_or(0);
  }

  std::optional<std::string> serviceName(uint16_t port, bool udp) override {
    return call<std::optional<std::string>>(kNetstatServiceName,
                                            EncodeServiceNameAsked({port, udp}), DecodeNetstatText)
        .value_or(std::nullopt);
  }

 private:
  // One request and its one reply; nothing when the agent did not answer with one.
  template <typename Value, typename Decode>
  std::optional<Value> call(uint16_t operation, const std::vector<uint8_t>& request,
                            Decode decode) {
    std::optional<Value> value;
    const int error = CallOverLink(*link_, kServiceNetstat, operation, request, nullptr,
                                   [&](const std::vector<uint8_t>& message) {
                                     value = decode(message);
                                     return value.has_value();
                                   });
    if (error != 0) return std::nullopt;
    return value;
  }

  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<NetstatService> NewRemoteNetstatService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteNetstatService>(std::move(link));
}
