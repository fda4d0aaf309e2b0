// A DHCP lease file of any of the clients, and the adapter text made from its lease.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "netinfo/dhcp_lease.h"
#include "netinfo/netinfo_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  AdapterRecord adapter;
  adapter.index = 7;
  adapter.name = "e0";
  adapter.addresses = {0x020A12C6};  // 198.18.10.2
  // Named by the file, so both readers get the text when it holds no lease block.
  LeaseChoice choice(adapter.name, adapter.index, adapter.addresses);
  choice.considerFile("7", text, 1700000000);
  (void)FormatAdapterInfo(adapter, choice.best(), std::nullopt);
  (void)ParseKeyValueLease(text, 0);
  return 0;
}
