#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "shell/resolve_host.h"

namespace {

std::optional<std::string> NameOfAddress(uint32_t address) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                  NI_NAMEREQD) != 0) {
    return std::nullopt;
  }
  return std::string(host);
}

std::optional<std::string> AddressOfName(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address rather than one per socket type
  addrinfo* list = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
    return std::nullopt;
  }
  std::optional<std::string> first;
  for (const addrinfo* ai = list; ai != nullptr && !first; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET || ai->ai_addrlen < sizeof(sockaddr_in)) continue;
    char text[INET_ADDRSTRLEN];
    const auto* sa = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
    if (inet_ntop(AF_INET, &sa->sin_addr, text, sizeof text)) first = std::string(text);
  }
  freeaddrinfo(list);
  return first;
}

}  // namespace

const HostLookups& SystemHostLookups() {
  static const HostLookups lookups{NameOfAddress, AddressOfName};
  return lookups;
}
