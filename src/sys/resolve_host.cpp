#include "sys/resolve_host.h"

#include <arpa/inet.h>

#include <cstring>

int ResolveHostWith(const HostLookups& lookups, const char* name, char* destination,
                    size_t capacity) {
  if (destination == nullptr || capacity == 0 || name == nullptr || name[0] == '\0') return 0;
  if (strnlen(name, kResolveMaxName + 1) > kResolveMaxName) return 0;

  const std::string text(name);  // copied first: destination may be the name's own buffer
  // inet_addr reports 255.255.255.255 as INADDR_NONE, so that text takes the name path.
  const in_addr_t address = inet_addr(text.c_str());
  std::optional<std::string> found;
  if (address != INADDR_NONE) {
    found = lookups.nameOfAddress(address);
  } else if (const std::optional<IpAddress> ipv6 = ParseIpv6Address(text)) {
    if (lookups.nameOfIpv6Address != nullptr) found = lookups.nameOfIpv6Address(*ipv6);
  } else {
    found = lookups.addressOfName(text);
  }
  if (!found) return 0;

  const std::string result = found->substr(0, kResolveWorkBuffer - 1);
  if (result.size() < capacity) {
    std::memcpy(destination, result.c_str(), result.size() + 1);
  } else {
    std::memset(destination, 0, capacity);
    std::memcpy(destination, result.data(), capacity - 1);
  }
  return 1;
}

int ResolveHost(const char* name, char* destination, size_t capacity) {
  return ResolveHostWith(SystemHostLookups(), name, destination, capacity);
}
