#include <cerrno>

#include "host/remote_services.h"
#include "netstat/netstat_service.h"

namespace {

class RemoteNetstatService : public NetstatService {
 public:
  explicit RemoteNetstatService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  // Not served by the agent yet: every call fails as on a host whose tables cannot be read.
  std::shared_ptr<const EndpointSnapshot> endpoints(const RunToken*) override { return nullptr; }
  int killConnection(const EndpointRecord&) override { return ENOSYS; }
  TerminateResult terminateProcess(uint32_t) override { return TerminateResult::CannotOpen; }
  std::optional<std::string> executablePath(uint32_t) override { return std::nullopt; }
  ProcessText processText(uint32_t, bool, size_t) override { return {}; }
  uint64_t workingSet(uint32_t) override { return 0; }
  std::optional<std::string> serviceName(uint16_t, bool) override { return std::nullopt; }

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<NetstatService> NewRemoteNetstatService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteNetstatService>(std::move(link));
}
