// Captured frames as the capture decodes them, IPv4 and IPv6 (its extension headers walked): the
// first byte picks the link type, the rest is the frame. A decoded packet's payload always lies
// within the frame.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "capture/captured_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int kLinkTypes[] = {kLinkEthernet, kLinkRaw,       kLinkNull, kLinkLoop,
                                   kLinkLinuxSll, kLinkLinuxSll2, kLinkIpv4, kLinkIpv6};
  if (size == 0) return 0;
  const int linkType = kLinkTypes[data[0] % (sizeof kLinkTypes / sizeof kLinkTypes[0])];
  static auto record = std::make_unique<CapturedPacket>();
  if (DecodeFrame(linkType, data + 1, size - 1, record.get())) {
    if (record->payloadLength == 0 || record->payloadLength > size - 1) __builtin_trap();
  }
  (void)PayloadOffset(data + 1, size - 1);
  return 0;
}
