#include <algorithm>
#include <cerrno>

#include "agent/serve.h"
#include "whois/whois_service.h"
#include "wire/whois_records.h"

namespace {

// The reply record in messages of at most kMessageLimit bytes.
void SendInPieces(Channel& channel, const std::vector<uint8_t>& record) {
  for (size_t at = 0; at < record.size(); at += kMessageLimit) {
    const auto begin = record.begin() + ptrdiff_t(at);
    const auto end = record.begin() + ptrdiff_t(std::min(record.size(), at + kMessageLimit));
    if (channel.send(std::vector<uint8_t>(begin, end), &channel.ended()) != 0) return;
  }
}

}  // namespace

void ServeWhois(Channel& channel, WhoisService& whois) {
  const OpenRequest& open = channel.opened();
  std::vector<uint8_t> reply;
  switch (open.operation) {
    case kWhoisExchangeQuery: {
      const std::optional<WhoisAsked> asked = DecodeWhoisAsked(open.request);
      if (!asked) return channel.close(EINVAL);
      reply =
          EncodeWhoisExchangeResult(whois.exchange(asked->server, asked->query, channel.ended()));
      break;
    }
    case kWhoisExchangeRdap: {
      const std::optional<std::string> url = DecodeWhoisText(open.request);
      if (!url) return channel.close(EINVAL);
      reply = EncodeRdapReply(whois.exchangeRdap(*url, channel.ended()));
      break;
    }
    case kWhoisRdapServiceFor: {
      const std::optional<std::string> name = DecodeWhoisText(open.request);
      if (!name) return channel.close(EINVAL);
      reply = EncodeWhoisMaybeText(whois.rdapServiceFor(*name, channel.ended()));
      break;
    }
    default:
      return channel.close(ENOSYS);
  }
  SendInPieces(channel, reply);
  channel.close(0);
}
