#include "agent/serve.h"

#include <cerrno>
#include <cstring>

#include "dns/dns_service.h"
#include "wire/names_records.h"
#include "wire/services.h"

void ServeChannel(Channel& channel, Host& host) {
  switch (channel.opened().service) {
    case kServiceNames:
      return ServeNames(channel, host.dns());  // any service's lookups are the host's
    case kServiceDns:
      return ServeDns(channel, host.dns());
    case kServiceWhois:
      return ServeWhois(channel, host.whois());
    case kServicePing:
      return ServePing(channel, host.ping());
    case kServiceCapture:
      return ServeCapture(channel, host.capture());
    case kServiceSockets:
      return ServeSockets(channel, host.sockets());
    case kServiceNetstat:
      return ServeNetstat(channel, host.netstat());
    case kServiceNetInfo:
      return ServeNetInfo(channel, host.netinfo());
    default:
      channel.close(ENOSYS);
  }
}

void ServeNames(Channel& channel, NameService& names) {
  const std::optional<ResolveHostAsked> asked =
      channel.opened().operation == kNamesResolveHost
          ? DecodeResolveHostAsked(channel.opened().request)
          : std::nullopt;
  if (!asked)
    return channel.close(channel.opened().operation == kNamesResolveHost ? EINVAL : ENOSYS);
  std::vector<char> text(std::max<size_t>(asked->capacity, 1));
  ResolveHostFound found;
  found.found =
      names.resolveHost(asked->name.c_str(), text.data(), text.size(), &channel.ended()) != 0;
  if (found.found) found.text.assign(text.data(), strnlen(text.data(), text.size() - 1));
  channel.send(EncodeResolveHostFound(found), &channel.ended());
  channel.close(0);
}
