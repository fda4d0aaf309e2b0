#include <cerrno>

#include "host/remote_services.h"
#include "whois/whois_service.h"
#include "wire/services.h"
#include "wire/whois_records.h"

namespace {

// One operation whose reply record may come in several messages: 0 and the whole record, or
// the call's errno (EBADMSG for a record past kWhoisReplyLimit).
int CallForRecord(Link& link, uint16_t operation, const std::vector<uint8_t>& request,
                  const RunToken* token, std::vector<uint8_t>* record) {
  return CallOverLink(link, kServiceWhois, operation, request, token,
                      [&](const std::vector<uint8_t>& message) {
                        if (message.size() > kWhoisReplyLimit - record->size()) return false;
                        record->insert(record->end(), message.begin(), message.end());
                        return true;
                      });
}

class RemoteWhoisService : public WhoisService {
 public:
  explicit RemoteWhoisService(std::shared_ptr<Link> link) : link_(std::move(link)) {}

  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostThere(*link_, name, destination, capacity, token);
  }

  WhoisExchangeResult exchange(const std::string& server, const std::string& query,
                               const RunToken& token) override {
    std::vector<uint8_t> record;
    const int error = CallForRecord(*link_, kWhoisExchangeQuery, EncodeWhoisAsked({server, query}),
                                    &token, &record);
    std::optional<WhoisExchangeResult> result;
    if (error == 0) result = DecodeWhoisExchangeResult(record);
    if (result) return *result;
    // A stop ends the wait as the local exchange's does; a lost agent as a failed socket.
    return {error == ECANCELED ? WhoisExchangeStatus::Cancelled : WhoisExchangeStatus::SocketFailed,
            {}};
  }

  RdapReply exchangeRdap(const std::string& url, const RunToken& token) override {
    std::vector<uint8_t> record;
    const int error =
        CallForRecord(*link_, kWhoisExchangeRdap, EncodeWhoisText(url), &token, &record);
    std::optional<RdapReply> reply;
    if (error == 0) reply = DecodeRdapReply(record);
    if (reply) return *reply;
    RdapReply failed;
    failed.transport = error == ECANCELED ? RdapTransport::Cancelled : RdapTransport::ConnectFailed;
    failed.url = url;
    return failed;
  }

  std::optional<std::string> rdapServiceFor(const std::string& name,
                                            const RunToken& token) override {
    std::vector<uint8_t> record;
    if (CallForRecord(*link_, kWhoisRdapServiceFor, EncodeWhoisText(name), &token, &record) != 0) {
      return std::nullopt;
    }
    return DecodeWhoisMaybeText(record).value_or(std::nullopt);
  }

 private:
  std::shared_ptr<Link> link_;
};

}  // namespace

std::unique_ptr<WhoisService> NewRemoteWhoisService(std::shared_ptr<Link> link) {
  return std::make_unique<RemoteWhoisService>(std::move(link));
}
