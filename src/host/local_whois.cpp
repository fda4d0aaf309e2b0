#include <memory>

#include "host/local_services.h"
#include "whois/whois_service.h"

namespace {

class LocalWhoisService : public WhoisService {
 public:
  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }
};

}  // namespace

std::unique_ptr<WhoisService> NewLocalWhoisService() {
  return std::make_unique<LocalWhoisService>();
}
