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

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<NetInfoService> NewRemoteNetInfoService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteNetInfoService>(std::move(link));
}
