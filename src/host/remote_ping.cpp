#include <cerrno>

#include "host/remote_services.h"
#include "ping/echo.h"
#include "ping/ping_service.h"
#include "wire/ping_records.h"
#include "wire/services.h"

namespace {

class RemotePingService : public PingService {
 public:
  explicit RemotePingService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  bool loadEchoService() override {
    std::optional<bool> loaded;
    CallOverLink(*link_, kServicePing, kPingLoadEchoService, {}, nullptr,
                 [&](const std::vector<uint8_t>& message) {
                   loaded = DecodeEchoLoaded(message);
                   return loaded.has_value();
                 });
    return loaded.value_or(false);  // a lost agent: as a host without the service
  }

  EchoAnswer sendEcho(const IpAddress& destination, int ttl, uint32_t timeoutMs,
                      const RunToken& token) override {
    std::optional<EchoAnswer> answer;
    const int error = CallOverLink(*link_, kServicePing, kPingSendEcho,
                                   EncodeEchoAsked({destination, ttl, timeoutMs}), &token,
                                   [&](const std::vector<uint8_t>& message) {
                                     answer = DecodeEchoAnswer(message);
                                     return answer.has_value();
                                   });
    if (error == 0 && answer) return *answer;
    // A stop ends the wait as the local echo's wake-up does; a lost agent as a local failure.
    EchoAnswer failed;
    FailEcho(&failed.result, &failed.answerer, destination.family(),
             error == ECANCELED ? kEchoReqTimedOut : kEchoGeneralFailure);
    return failed;
  }

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<PingService> NewRemotePingService(std::shared_ptr<Link> link) {
  return std::make_unique<RemotePingService>(std::move(link));
}
