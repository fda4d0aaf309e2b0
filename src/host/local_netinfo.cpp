#include <memory>

#include "host/local_services.h"
#include "netinfo/netinfo_service.h"

namespace {

class LocalNetInfoService : public NetInfoService {
 public:
  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }
};

}  // namespace

std::unique_ptr<NetInfoService> NewLocalNetInfoService() {
  return std::make_unique<LocalNetInfoService>();
}
