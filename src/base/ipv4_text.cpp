#include "base/ipv4_text.h"

#include <cstdio>
#include <cstring>

std::string DottedAddress(uint32_t networkOrder) {
  uint8_t b[4];
  std::memcpy(b, &networkOrder, sizeof b);  // network order: first octet first
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}
