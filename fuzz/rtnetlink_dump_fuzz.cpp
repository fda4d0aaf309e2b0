// Reply datagrams of the kernel's route netlink: link, address, route and neighbour dumps and
// acknowledgements.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "netinfo/rtnetlink_dump.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AdapterDump dump;
  (void)dump.add(data, size);
  for (const AdapterRecord& adapter : dump.adapters()) {
    if (adapter.name.size() >= 16 || adapter.firstPrefixLength > 32) __builtin_trap();
  }
  std::vector<uint32_t> neighbours;
  (void)AddNeighbours(data, size, 2, neighbours);
  std::vector<DumpedAddress> addresses;
  (void)AddInterfaceAddresses(data, size, addresses);
  (void)AckError(data, size);
  return 0;
}
