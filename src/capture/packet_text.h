#pragma once

#include <cstdint>
#include <string>

#include "capture/captured_packet.h"

// Capacities of the packet header block and of each endpoint text in it.
inline constexpr size_t kPacketHeaderCapacity = 2000;
inline constexpr size_t kEndpointCapacity = 100;

// One shown packet as the pane prints it: with `showInfo`, the header block
// "\r\nPACKET n\r\nProtocol: ...\r\nSource: a:p\r\nDestination: a:p\r\nBytes: n\r\n" (an IPv6
// endpoint as "[addr]:p"), then the payload in the display mode (a formatter flag). When memory
// for the rendering cannot be had, "#>[ERROR: MEMORY ALLCOATION ERROR!]\r\n" stands in for the
// payload.
std::string FormatCapturedPacket(int64_t number, const CapturedPacket& packet, uint32_t mode,
                                 bool showInfo);
