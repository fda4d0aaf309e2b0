#pragma once

#include <cstdint>

// Which decoded packets the Packet Capture pane shows. One current filter for the program,
// replaced only whole: by the filter dialog's OK, or by Netstat's Send To.
//
// List modes (the index in the dialog's drop-down lists):
//   0 the list is ignored, 1 source or destination, 2 source only, 3 destination only.
// Both lists end at the first 0 or after the tenth entry; 0 is never a member.
// A value-initialised filter shows nothing: no protocol, no lists.
struct CaptureFilter {
  int32_t includeTcp = 0;       // non-zero: show TCP packets
  int32_t includeUdp = 0;       // non-zero: show UDP packets
  int32_t portMode = 0;         // list mode of `ports`
  uint16_t ports[10] = {};      // network byte order
  int32_t addressMode = 0;      // list mode of `addresses`
  uint32_t addresses[10] = {};  // IPv4, network byte order
};

inline constexpr int kFilterListLength = 10;
