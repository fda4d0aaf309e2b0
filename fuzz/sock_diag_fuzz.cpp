// Socket-diagnostics netlink datagrams, as the kernel answers a dump or a request of either
// family.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "netstat/sock_diag_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const uint8_t family : {kFamilyInet, kFamilyInet6}) {
    std::vector<DiagSocket> sockets;
    int error = 0;
    (void)ParseDiagDatagram(data, size, 1, sockets, &error, family);
    for (const DiagSocket& s : sockets) (void)LocalAddressOf(s).text();
  }
  (void)ParseNetlinkAck(data, size, 1);
  return 0;
}
