#include <memory>

#include "capture/capture_service.h"
#include "host/local_services.h"

namespace {

class LocalCaptureService : public CaptureService {
 public:
  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }
};

}  // namespace

std::unique_ptr<CaptureService> NewLocalCaptureService() {
  return std::make_unique<LocalCaptureService>();
}
