#include <memory>

#include "host/local_services.h"
#include "sockets/socket_service.h"

namespace {

class LocalSocketService : public SocketService {
 public:
  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }
};

}  // namespace

std::unique_ptr<SocketService> NewLocalSocketService() {
  return std::make_unique<LocalSocketService>();
}
