#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "sockets/local_addresses.h"

namespace {

// The system's IPv4 interface addresses in the order getifaddrs lists them.
std::vector<uint32_t> ReadLocalAddresses() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::vector<InterfaceAddress> listed;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    InterfaceAddress entry;
    entry.interfaceIndex = a->ifa_name ? if_nametoindex(a->ifa_name) : 0;
    entry.up = (a->ifa_flags & IFF_UP) != 0;
    entry.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
    entry.address = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
    listed.push_back(entry);
  }
  freeifaddrs(list);
  return OrderLocalAddresses(std::move(listed));
}

}  // namespace

int LocalAddressCount() {
  return int(ReadLocalAddresses().size());
}

uint32_t LocalAddressAt(int index) {
  const std::vector<uint32_t> addresses = ReadLocalAddresses();
  if (index < 0 || size_t(index) >= addresses.size()) return 0;
  return addresses[size_t(index)];
}
