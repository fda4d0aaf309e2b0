#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "shell/resolve_host.h"
#include "shell/socket_address.h"

namespace {

std::optional<std::string> NameOf(const SocketAddress& sa) {
  char host[NI_MAXHOST];
  if (getnameinfo(sa.get(), sa.length, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0) {
    return std::nullopt;
  }
  return std::string(host);
}

std::optional<std::string> NameOfAddress(uint32_t address) {
  return NameOf(MakeSocketAddress(IpAddress::Ipv4(address), 0));
}

std::optional<std::string> NameOfIpv6Address(const IpAddress& address) {
  return NameOf(MakeSocketAddress(address, 0));
}

// One lookup of both families: the first IPv4 address in the resolver's order, else the first
// IPv6 one, so a name keeps the address it had before IPv6 was asked for.
std::optional<std::string> AddressOfName(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address rather than one per socket type
  addrinfo* list = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
    return std::nullopt;
  }
  std::optional<IpAddress> ipv4, ipv6;
  for (const addrinfo* ai = list; ai != nullptr && !ipv4; ai = ai->ai_next) {
    sockaddr_storage storage{};
    if (ai->ai_addrlen > sizeof storage) continue;
    std::memcpy(&storage, ai->ai_addr, ai->ai_addrlen);
    const std::optional<AddressAndPort> found = ReadSocketAddress(storage, ai->ai_addrlen);
    if (!found) continue;
    if (found->address.isIpv4()) {
      ipv4 = found->address;
    } else if (!ipv6) {
      ipv6 = found->address;
    }
  }
  freeaddrinfo(list);
  if (ipv4) return ipv4->text();
  if (ipv6) return ipv6->text();
  return std::nullopt;
}

}  // namespace

const HostLookups& SystemHostLookups() {
  static const HostLookups lookups{NameOfAddress, AddressOfName, NameOfIpv6Address};
  return lookups;
}
