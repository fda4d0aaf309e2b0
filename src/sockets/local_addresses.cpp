#include "sockets/local_addresses.h"

#include <algorithm>

std::vector<uint32_t> OrderLocalAddresses(std::vector<InterfaceAddress> listed) {
  std::erase_if(listed, [](const InterfaceAddress& a) { return !a.up; });
  std::stable_sort(listed.begin(), listed.end(),
                   [](const InterfaceAddress& a, const InterfaceAddress& b) {
                     if (a.loopback != b.loopback) return b.loopback;
                     return a.interfaceIndex < b.interfaceIndex;
                   });
  std::vector<uint32_t> addresses;
  addresses.reserve(listed.size());
  for (const InterfaceAddress& a : listed) addresses.push_back(a.address);
  return addresses;
}
