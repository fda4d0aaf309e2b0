#include "capture/packet_text.h"

#include <new>

#include "base/format_bounded.h"
#include "base/payload_format.h"

namespace {

// "a.b.c.d:port", or "[addr]:port" for IPv6.
std::string ShownEndpoint(const IpAddress& address, uint16_t networkPort) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&networkPort);
  const uint16_t port = uint16_t((bytes[0] << 8) | bytes[1]);
  return FormatLine(kEndpointCapacity, "%s", EndpointText(address, port).c_str());
}

}  // namespace

std::string FormatCapturedPacket(int64_t number, const CapturedPacket& packet, uint32_t mode,
                                 bool showInfo) {
  std::string text;
  try {
    if (showInfo) {
      text = FormatLine(kPacketHeaderCapacity,
                        "\r\nPACKET %lld\r\nProtocol: %s\r\nSource: %s\r\nDestination: %s\r\n"
                        "Bytes: %d\r\n",
                        static_cast<long long>(number), packet.isTcp ? "TCP" : "UDP",
                        ShownEndpoint(packet.sourceAddress, packet.sourcePort).c_str(),
                        ShownEndpoint(packet.destinationAddress, packet.destinationPort).c_str(),
                        int{packet.payloadLength});
    }
    text += FormatPayload(mode, packet.payload, packet.payloadLength);
  } catch (const std::bad_alloc&) {
    text += "#>[ERROR: MEMORY ALLCOATION ERROR!]\r\n";
  }
  return text;
}
