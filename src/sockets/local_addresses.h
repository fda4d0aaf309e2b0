#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The local address list offered by the TCP Socket, UDP Socket and Packet Capture panes: the
// IPv4 addresses of the interfaces that are up, those of other interfaces first in interface
// order, loopback last. (The host name alone usually resolves to loopback only on Linux.)

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

// One reading of the system's list. A pane fills its list from one reading: a host with
// thousands of addresses costs one walk over its interfaces, not one per address.
class LocalAddressList {
 public:
  // Reads the list; it is empty when the system's list cannot be read.
  LocalAddressList();

  int LocalAddressCount() const { return int(addresses_.size()); }
  // 0 for an index out of range.
  uint32_t LocalAddressAt(int index) const;

 private:
  std::vector<uint32_t> addresses_;
};
