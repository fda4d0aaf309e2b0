#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "base/byte_reader.h"
#include "base/ip_address.h"
#include "netinfo/netinfo_text.h"

// Decoding of the kernel's rtnetlink replies. Every read is checked against what remains of the
// datagram, so any bytes may be handed in.

enum class DumpState { kMore, kDone, kFailed };

// The adapters, out of the replies to a link dump, then an address dump, then a route dump (each
// of IPv4, IPv6 or both): each link with its hardware address, its IPv4 and its IPv6 addresses in
// the kernel's order and the gateway of its first default route of each family in the main table.
class AdapterDump {
 public:
  // One reply datagram: kDone after the dump's end, kFailed for an error reply.
  DumpState add(const uint8_t* data, size_t size);

  // Every adapter but loopback, in interface-index order.
  std::vector<AdapterRecord> adapters() const;

 private:
  void addLink(ByteReader body);
  void addAddress(ByteReader body);
  void addRoute(ByteReader body);
  void setGateway(int index, const IpAddress& gateway);

  std::map<int, AdapterRecord> byIndex_;
};

// The IPv4 addresses of the dynamic neighbour entries of interface `index` (neither PERMANENT
// nor NOARP), out of one reply datagram of an IPv4 neighbour dump, added to `addresses`.
DumpState AddNeighbours(const uint8_t* data, size_t size, int index,
                        std::vector<uint32_t>& addresses);

// One address of an interface: its index, the interface's own address and its prefix length.
struct DumpedAddress {
  int index = 0;
  IpAddress address;
  int prefixLength = 0;
};

// The IPv4 and IPv6 addresses of one reply datagram of an address dump, in the kernel's order,
// added to `addresses`.
DumpState AddInterfaceAddresses(const uint8_t* data, size_t size,
                                std::vector<DumpedAddress>& addresses);

// The error code of an acknowledgement (0 for success, else a negative errno), or 1 when the
// datagram holds none.
int AckError(const uint8_t* data, size_t size);
