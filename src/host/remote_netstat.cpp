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

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<NetstatService> NewRemoteNetstatService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteNetstatService>(std::move(link));
}
