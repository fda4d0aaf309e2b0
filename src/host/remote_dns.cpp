#include "dns/dns_service.h"
#include "host/remote_services.h"
#include "wire/dns_records.h"
#include "wire/services.h"

namespace {

class RemoteDnsService : public DnsService {
 public:
  explicit RemoteDnsService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  std::string defaultServerText() override {
    std::optional<std::string> text;
    CallOverLink(*link_, kServiceDns, kDnsDefaultServerText, {}, nullptr,
                 [&](const std::vector<uint8_t>& message) {
                   text = DecodeDnsText(message);
                   return text.has_value();
                 });
    return text.value_or("0.0.0.0");  // as when the host's configuration names no server
  }

  std::optional<DnsIpv6Server> parseIpv6Server(const std::string& text) override {
    std::optional<std::optional<DnsIpv6Server>> server;
    CallOverLink(*link_, kServiceDns, kDnsParseIpv6Server, EncodeDnsText(text), nullptr,
                 [&](const std::vector<uint8_t>& message) {
                   server = DecodeDnsIpv6Server(message);
                   return server.has_value();
                 });
    return server.value_or(std::nullopt);
  }

  DnsAnswer exchange(const DnsQuery& query, const RunToken& token) override {
    std::optional<DnsAnswer> answer;
    const int error = CallOverLink(*link_, kServiceDns, kDnsExchangeQuery, EncodeDnsQuery(query),
                                   &token, [&](const std::vector<uint8_t>& message) {
                                     answer = DecodeDnsAnswer(message);
                                     return answer.has_value();
                                   });
    if (error == 0 && answer) return *answer;
    DnsAnswer failed;
    // A stop ends the wait as the local exchange's does; a lost agent as a failed socket.
    failed.result = error == ECANCELED ? kDnsNoReply : kDnsSocketFailed;
    return failed;
  }

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<DnsService> NewRemoteDnsService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteDnsService>(std::move(link));
}
