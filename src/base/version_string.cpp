#include "base/version_string.h"

#include <cstdio>

#include "version.h"

const char* GetVersionString() {
  static char text[64];
  std::snprintf(text, sizeof text, "v%d.%d.%d.%d", PELORIN_VERSION_MAJOR, PELORIN_VERSION_MINOR,
                PELORIN_VERSION_BUILD, PELORIN_VERSION_REVISION);
  return text;
}
