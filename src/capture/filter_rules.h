#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_filter.h"
#include "capture/captured_packet.h"

// The rules of the capture filter, apart from its dialog and the pane.

// The filter the program starts with: TCP only, port 80 as source or destination, any address.
CaptureFilter InitialCaptureFilter();

// 1 to show the packet, 0 to drop it: its protocol must be included, and with a list in use
// (mode 1 to 3) one of its listed ports, and one of its listed addresses, must match the
// packet's source or destination as the mode says. A mode in use with an empty list drops all.
int PacketPassesFilter(const CaptureFilter& filter, const CapturedPacket& packet);

// Whether no packet can pass the filter at all.
bool FilterDropsEverything(const CaptureFilter& filter);

// The three lines of the pane's "Current Filter :" box, joined by "\r\n" (none after the last).
std::string DescribeFilterText(const CaptureFilter& filter);

// The lists as the filter dialog shows them: decimal ports and addresses (dotted, or IPv6 text)
// joined by ",".
std::string FilterPortsText(const CaptureFilter& filter);
std::string FilterAddressesText(const CaptureFilter& filter);

// The pieces of a list text as the dialog reads them: blanks, TABs, CRs, LFs and commas trimmed
// from both ends, split at each ",", each piece trimmed the same way; at most the first ten.
// An empty (or all-separator) text gives no pieces.
std::vector<std::string> FilterListPieces(std::string_view text);

// A port piece's number: its leading decimal digits (none give 0), keeping the low 16 bits of
// the value, in host byte order.
uint16_t PortPieceValue(std::string_view piece);

// A port number in network byte order.
uint16_t NetworkPort(uint16_t hostOrder);

// The filter as a capture-library filter expression that accepts exactly the frames whose IPv4
// or IPv6 packet would decode (a whole TCP or UDP packet with payload, not a later fragment) and
// pass the filter, so the kernel drops the rest before they are copied to the program. The one
// exception: an IPv6 packet with two or more extension headers before its transport header
// passes whenever its addresses do (and it is captured whole), and the window judges it.
// With an active exclusion, the excluded connection's packets are left out too.
std::string KernelFilterExpression(const CaptureFilter& filter,
                                   const CaptureExclusion& exclusion = {});

// Whether the packet belongs to the excluded connection, in either direction.
bool PacketIsExcluded(const CaptureExclusion& exclusion, const CapturedPacket& packet);

// The exclusion of an ssh session from the value of SSH_CONNECTION ("client-address client-port
// server-address server-port"); inactive for anything else.
CaptureExclusion ExclusionOfSshConnection(std::string_view value);
