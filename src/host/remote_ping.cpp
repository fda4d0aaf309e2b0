#include "host/remote_services.h"
#include "ping/echo.h"
#include "ping/ping_service.h"

namespace {

class RemotePingService : public PingService {
 public:
  explicit RemotePingService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  // Until the agent serves them: as a host without an echo service.
  bool loadEchoService() override { return false; }
  EchoAnswer sendEcho(const IpAddress& destination, int, uint32_t, const RunToken&) override {
    EchoAnswer answer;
    FailEcho(&answer.result, &answer.answerer, destination.family(), kEchoGeneralFailure);
    return answer;
  }

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<PingService> NewRemotePingService(std::shared_ptr<Link> link) {
  return std::make_unique<RemotePingService>(std::move(link));
}
