#include "host/remote_services.h"
#include "sockets/socket_service.h"

namespace {

class RemoteSocketService : public SocketService {
 public:
  explicit RemoteSocketService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<SocketService> NewRemoteSocketService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteSocketService>(std::move(link));
}
