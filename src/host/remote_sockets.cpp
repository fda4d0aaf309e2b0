#include <cerrno>

#include "host/remote_services.h"
#include "sockets/socket_service.h"

namespace {

SocketOpening Unknown() {
  return {nullptr, SocketStep::kCreate, ENOSYS};
}

class RemoteSocketService : public SocketService {
 public:
  explicit RemoteSocketService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  // The agent serves no socket yet: there is no local address, and every opening fails as an
  // operation the agent does not know.
  std::vector<IpAddress> localAddresses() override { return {}; }
  SocketOpening listenTcp(const IpAddress&, uint16_t) override { return Unknown(); }
  SocketOpening connectTcp(const IpAddress&, uint16_t) override { return Unknown(); }
  SocketOpening bindUdp(const IpAddress&, uint16_t) override { return Unknown(); }

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<SocketService> NewRemoteSocketService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteSocketService>(std::move(link));
}
