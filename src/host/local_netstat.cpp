#include <memory>

#include "host/local_services.h"
#include "netstat/netstat_service.h"

namespace {

class LocalNetstatService : public NetstatService {
 public:
  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }
};

}  // namespace

std::unique_ptr<NetstatService> NewLocalNetstatService() {
  return std::make_unique<LocalNetstatService>();
}
