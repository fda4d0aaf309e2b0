#include <cerrno>

#include "agent/serve.h"
#include "dns/dns_service.h"
#include "wire/dns_records.h"

void ServeDns(Channel& channel, DnsService& dns) {
  const OpenRequest& open = channel.opened();
  std::vector<uint8_t> reply;
  switch (open.operation) {
    case kDnsDefaultServerText:
      reply = EncodeDnsText(dns.defaultServerText());
      break;
    case kDnsParseIpv6Server: {
      const std::optional<std::string> text = DecodeDnsText(open.request);
      if (!text) return channel.close(EINVAL);
      reply = EncodeDnsIpv6Server(dns.parseIpv6Server(*text));
      break;
    }
    case kDnsExchangeQuery: {
      const std::optional<DnsQuery> query = DecodeDnsQuery(open.request);
      if (!query) return channel.close(EINVAL);
      reply = EncodeDnsAnswer(dns.exchange(*query, channel.ended()));
      break;
    }
    default:
      return channel.close(ENOSYS);
  }
  channel.send(reply, &channel.ended());
  channel.close(0);
}
