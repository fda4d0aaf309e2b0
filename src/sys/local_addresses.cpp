#include "sys/local_addresses.h"

#include <algorithm>

namespace {

// Up interfaces only, by interface index, loopback ones last; the order listed within one.
template <typename Entry>
void OrderByInterface(std::vector<Entry>& listed) {
  std::erase_if(listed, [](const Entry& a) { return !a.up; });
  std::stable_sort(listed.begin(), listed.end(), [](const Entry& a, const Entry& b) {
    if (a.loopback != b.loopback) return b.loopback;
    return a.interfaceIndex < b.interfaceIndex;
  });
}

}  // namespace

std::vector<uint32_t> OrderLocalAddresses(std::vector<InterfaceAddress> listed) {
  OrderByInterface(listed);
  std::vector<uint32_t> addresses;
  addresses.reserve(listed.size());
  for (const InterfaceAddress& a : listed) addresses.push_back(a.address);
  return addresses;
}

std::vector<IpAddress> OrderLocalIpv6Addresses(std::vector<InterfaceIpv6Address> listed) {
  std::erase_if(listed, [](const InterfaceIpv6Address& a) { return a.address.isLinkLocal(); });
  OrderByInterface(listed);
  std::vector<IpAddress> addresses;
  addresses.reserve(listed.size());
  for (const InterfaceIpv6Address& a : listed) addresses.push_back(a.address);
  return addresses;
}
