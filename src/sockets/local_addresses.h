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

// Each call reads the system's list afresh. LocalAddressAt gives 0 for an index out of range
// or when the list cannot be read.
int LocalAddressCount();
uint32_t LocalAddressAt(int index);
