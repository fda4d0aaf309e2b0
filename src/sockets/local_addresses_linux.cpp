#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <unordered_map>

#include "netinfo/rtnetlink_dump.h"
#include "netinfo/rtnl_socket_linux.h"
#include "sockets/local_addresses.h"

namespace {

// The kernel's IPv4 addresses with their interfaces, from one address dump. No link dump: on a
// host with thousands of interfaces it costs ten times more than all the rest together.
bool DumpInterfaceAddresses(std::vector<DumpedAddress>& addresses) {
  RtnlSocket socket;
  ifaddrmsg request{};
  request.ifa_family = AF_INET;
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

// The system's IPv4 interface addresses, ordered, from one reading: one dump, and each
// interface's flags asked once.
std::vector<uint32_t> ReadLocalAddresses() {
  std::vector<DumpedAddress> dumped;
  if (!DumpInterfaceAddresses(dumped)) return {};
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  std::unordered_map<int, unsigned> flagsOfIndex;
  std::vector<InterfaceAddress> listed;
  listed.reserve(dumped.size());
  for (const DumpedAddress& d : dumped) {
    const auto [at, added] = flagsOfIndex.try_emplace(d.index, 0);
    if (added) at->second = InterfaceFlags(fd, d.index);
    InterfaceAddress entry;
    entry.interfaceIndex = unsigned(d.index);
    entry.up = (at->second & IFF_UP) != 0;
    entry.loopback = (at->second & IFF_LOOPBACK) != 0;
    entry.address = d.address;
    listed.push_back(entry);
  }
  close(fd);
  return OrderLocalAddresses(std::move(listed));
}

}  // namespace

LocalAddressList::LocalAddressList() : addresses_(ReadLocalAddresses()) {}

uint32_t LocalAddressList::LocalAddressAt(int index) const {
  if (index < 0 || size_t(index) >= addresses_.size()) return 0;
  return addresses_[size_t(index)];
}
