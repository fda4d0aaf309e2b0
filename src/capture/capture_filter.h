#pragma once

#include <cstdint>

#include "base/ip_address.h"

// Which decoded packets the Packet Capture pane shows. One current filter for the program,
// replaced only whole: by the filter dialog's OK, or by Netstat's Send To.
//
// List modes (the index in the dialog's drop-down lists):
//   0 the list is ignored, 1 source or destination, 2 source only, 3 destination only.
// Both lists end at the first 0 (for addresses 0.0.0.0 or ::) or after the tenth entry; 0 is
// never a member. The address list may mix IPv4 and IPv6 addresses:
//   filter.addresses[0] = IpAddress::Ipv4(networkOrder);
//   filter.addresses[1] = *ParseIpAddress("2001:db8::1");
// A value-initialised filter shows nothing: no protocol, no lists.
struct CaptureFilter {
  int32_t includeTcp = 0;        // non-zero: show TCP packets
  int32_t includeUdp = 0;        // non-zero: show UDP packets
  int32_t portMode = 0;          // list mode of `ports`
  uint16_t ports[10] = {};       // network byte order
  int32_t addressMode = 0;       // list mode of `addresses`
  IpAddress addresses[10] = {};  // IPv4 or IPv6
};

inline constexpr int kFilterListLength = 10;

// A TCP connection a capture leaves out, both of its directions: the one that carries the
// capture itself (the ssh session of an agent on the captured host), whose every packet would
// otherwise bring more. Ports in network byte order; both addresses of one family.
struct CaptureExclusion {
  bool active = false;
  IpAddress addressA;
  uint16_t portA = 0;
  IpAddress addressB;
  uint16_t portB = 0;
};
