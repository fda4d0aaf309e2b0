#include "capture/packet_text.h"

#include <new>

#include "shell/format_bounded.h"
#include "shell/ipv4_text.h"
#include "shell/payload_format.h"

namespace {

std::string EndpointText(uint32_t address, uint16_t networkPort) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&networkPort);
  const int port = (bytes[0] << 8) | bytes[1];
  return FormatLine(kEndpointCapacity, "%s:%d", DottedAddress(address).c_str(), port);
}

}  // namespace

std::string FormatCapturedPacket(int number, const CapturedPacket& packet, uint32_t mode,
                                 bool showInfo) {
  std::string text;
  try {
    if (showInfo) {
      text = FormatLine(kPacketHeaderCapacity,
                        "\r\nPACKET %d\r\nProtocol: %s\r\nSource: %s\r\nDestination: %s\r\n"
                        "Bytes: %d\r\n",
                        number, packet.isTcp ? "TCP" : "UDP",
                        EndpointText(packet.sourceAddress, packet.sourcePort).c_str(),
                        EndpointText(packet.destinationAddress, packet.destinationPort).c_str(),
                        int{packet.payloadLength});
    }
    text += FormatPayload(mode, packet.payload, packet.payloadLength);
  } catch (const std::bad_alloc&) {
    text += "#>[ERROR: MEMORY ALLCOATION ERROR!]\r\n";
  }
  return text;
}
