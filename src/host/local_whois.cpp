#include <memory>
#include <utility>

#include "host/local_services.h"
#include "whois/rdap_bootstrap_store.h"
#include "whois/rdap_exchange.h"
#include "whois/whois_exchange.h"
#include "whois/whois_service.h"

namespace {

class LocalWhoisService : public WhoisService {
 public:
  explicit LocalWhoisService(WhoisPlaces places) : places_(std::move(places)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }

  WhoisExchangeResult exchange(const std::string& server, const std::string& query,
                               const RunToken& token) override {
    return ExchangeWhois(server, query, token,
                         places_.lookups != nullptr ? *places_.lookups : SystemHostLookups());
  }

  RdapReply exchangeRdap(const std::string& url, const RunToken& token) override {
    return ExchangeRdap(url, token);
  }

  std::optional<std::string> rdapServiceFor(const std::string& name,
                                            const RunToken& token) override {
    const std::optional<RdapBootstrap> bootstrap = LoadRdapBootstrap(
        places_.rdapPlaces ? *places_.rdapPlaces : DefaultRdapBootstrapPlaces(), token);
    if (!bootstrap || token.cancelled()) return std::nullopt;
    return FindRdapBaseUrl(*bootstrap, name);
  }

 private:
  const WhoisPlaces places_;
};

}  // namespace

std::unique_ptr<WhoisService> NewLocalWhoisService(const WhoisPlaces& places) {
  return std::make_unique<LocalWhoisService>(places);
}
