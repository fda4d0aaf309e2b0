#include <memory>

#include "host/local_services.h"
#include "ping/ping_service.h"

namespace {

class LocalPingService : public PingService {
 public:
  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }
};

}  // namespace

std::unique_ptr<PingService> NewLocalPingService() {
  return std::make_unique<LocalPingService>();
}
