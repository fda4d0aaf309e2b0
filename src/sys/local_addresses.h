#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/ip_address.h"

// The local address list offered by the TCP Socket, UDP Socket and Packet Capture panes: the
// IPv4 addresses of the interfaces that are up, those of other interfaces first in interface
// order, loopback last; then their IPv6 addresses in the same order, link-local ones left out
// (they cannot be used without naming their interface). (The host name alone usually resolves to
// loopback only on Linux.)

// One IPv4 address of an interface, as the system lists them.
struct InterfaceAddress {
  unsigned interfaceIndex = 0;
  bool up = false;
  bool loopback = false;
  uint32_t address = 0;  // network byte order
};

// The ordering rule: addresses of down interfaces dropped; the others by interface index, then
// in the order listed; loopback interfaces after all others.
std::vector<uint32_t> OrderLocalAddresses(std::vector<InterfaceAddress> listed);

// The same for IPv6 addresses, link-local ones dropped too.
struct InterfaceIpv6Address {
  unsigned interfaceIndex = 0;
  bool up = false;
  bool loopback = false;
  IpAddress address;
};
std::vector<IpAddress> OrderLocalIpv6Addresses(std::vector<InterfaceIpv6Address> listed);

// One reading of the system's list. A pane fills its list from one reading: a host with
// thousands of addresses costs one walk over its interfaces, not one per address.
class LocalAddressList {
 public:
  // Reads the list; it is empty when the system's list cannot be read.
  LocalAddressList();

  // The IPv4 addresses, network byte order.
  int LocalAddressCount() const { return int(ipv4_.size()); }
  // 0 for an index out of range.
  uint32_t LocalAddressAt(int index) const;

  // Every address of the list: the IPv4 ones, then the IPv6 ones.
  std::vector<IpAddress> addresses() const;

 private:
  std::vector<uint32_t> ipv4_;
  std::vector<IpAddress> ipv6_;
};
