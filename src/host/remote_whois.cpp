#include "host/remote_services.h"
#include "whois/whois_service.h"

namespace {

class RemoteWhoisService : public WhoisService {
 public:
  explicit RemoteWhoisService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  // Until the agent serves them: as a host that has no socket to give.
  WhoisExchangeResult exchange(const std::string&, const std::string&, const RunToken&) override {
    return {WhoisExchangeStatus::SocketFailed, {}};
  }
  RdapReply exchangeRdap(const std::string& url, const RunToken&) override {
    RdapReply reply;
    reply.transport = RdapTransport::ConnectFailed;
    reply.url = url;
    return reply;
  }
  std::optional<std::string> rdapServiceFor(const std::string&, const RunToken&) override {
    return std::nullopt;
  }

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<WhoisService> NewRemoteWhoisService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteWhoisService>(std::move(link));
}
