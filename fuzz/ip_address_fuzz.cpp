// Address texts typed by the user or read from the system: the parser agrees with the C
// library's inet_pton on any bytes, and what it reads is written back as inet_ntop writes it.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/ip_address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<IpAddress> ours = ParseIpv6Address(text);
  uint8_t library[16];
  // inet_pton reads up to the first NUL; a text with one is refused by ours.
  const bool parsed =
      std::strlen(text.c_str()) == size && inet_pton(AF_INET6, text.c_str(), library) == 1;
  if (ours.has_value() != parsed) __builtin_trap();
  if (parsed && std::memcmp(ours->bytes().data(), library, 16) != 0) __builtin_trap();
  if (size == 16) {
    const IpAddress address = IpAddress::Ipv6(data);
    char written[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, data, written, sizeof written);
    if (address.text() != written || ParseIpv6Address(written) != address) __builtin_trap();
  }
  in_addr v4{};
  const bool parsedV4 = std::strlen(text.c_str()) == size && inet_pton(AF_INET, text.c_str(), &v4);
  const std::optional<IpAddress> oursV4 = ParseIpv4Address(text);
  if (oursV4.has_value() != parsedV4 || (parsedV4 && oursV4->ipv4() != v4.s_addr)) __builtin_trap();
  return 0;
}
