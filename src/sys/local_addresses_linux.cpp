#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <unordered_map>

#include "netinfo/rtnetlink_dump.h"
#include "sys/rtnl_socket.h"
#include "sys/local_addresses.h"

namespace {

// The kernel's addresses with their interfaces, from one address dump (of both families when
// `family` is AF_UNSPEC). No link dump: on a host with thousands of interfaces it costs ten times
// more than all the rest together.
bool DumpInterfaceAddresses(uint8_t family, std::vector<DumpedAddress>& addresses) {
  RtnlSocket socket;
  ifaddrmsg request{};
  request.ifa_family = family;
  return socket.ok() &&
         socket.dump(RTM_GETADDR, request, [&addresses](const uint8_t* data, size_t size) {
           return AddInterfaceAddresses(data, size, addresses);
         });
}

// An interface's flags by its index; 0 when it has gone meanwhile.
unsigned InterfaceFlags(int fd, int index) {
  ifreq request{};
  request.ifr_ifindex = index;
  if (ioctl(fd, SIOCGIFNAME, &request) != 0) return 0;
  if (ioctl(fd, SIOCGIFFLAGS, &request) != 0) return 0;
  return unsigned(request.ifr_flags) & 0xFFFF;
}

}  // namespace

// One reading: one dump, and each interface's flags asked once.
LocalAddressList::LocalAddressList() {
  std::vector<DumpedAddress> dumped;
  if (!DumpInterfaceAddresses(AF_UNSPEC, dumped)) return;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  std::unordered_map<int, unsigned> flagsOfIndex;
  std::vector<InterfaceAddress> ipv4;
  std::vector<InterfaceIpv6Address> ipv6;
  ipv4.reserve(dumped.size());
  for (const DumpedAddress& d : dumped) {
    const auto [at, added] = flagsOfIndex.try_emplace(d.index, 0);
    if (added) at->second = InterfaceFlags(fd, d.index);
    const auto withInterface = [&d, flags = at->second](auto entry) {
      entry.interfaceIndex = unsigned(d.index);
      entry.up = (flags & IFF_UP) != 0;
      entry.loopback = (flags & IFF_LOOPBACK) != 0;
      return entry;
    };
    if (d.address.isIpv4()) {
      ipv4.push_back(withInterface(InterfaceAddress{.address = d.address.ipv4()}));
    } else {
      ipv6.push_back(withInterface(InterfaceIpv6Address{.address = d.address}));
    }
  }
  close(fd);
  ipv4_ = OrderLocalAddresses(std::move(ipv4));
  ipv6_ = OrderLocalIpv6Addresses(std::move(ipv6));
}

uint32_t LocalAddressList::LocalAddressAt(int index) const {
  if (index < 0 || size_t(index) >= ipv4_.size()) return 0;
  return ipv4_[size_t(index)];
}

std::vector<IpAddress> LocalAddressList::addresses() const {
  std::vector<IpAddress> all;
  all.reserve(ipv4_.size() + ipv6_.size());
  for (const uint32_t address : ipv4_) all.push_back(IpAddress::Ipv4(address));
  all.insert(all.end(), ipv6_.begin(), ipv6_.end());
  return all;
}
