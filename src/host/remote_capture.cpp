#include <cerrno>

#include "capture/capture_service.h"
#include "host/remote_services.h"

namespace {

class RemoteCaptureService : public CaptureService {
 public:
  explicit RemoteCaptureService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  // The agent serves no capture yet: there is no address to capture on, and a capture fails as
  // an operation the agent does not know.
  std::vector<IpAddress> captureAddresses() override { return {}; }
  CaptureOpening open(const IpAddress&, const CaptureFilter&, const RunToken&) override {
    return {nullptr, ENOSYS};
  }

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<CaptureService> NewRemoteCaptureService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteCaptureService>(std::move(link));
}
