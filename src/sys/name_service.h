#pragma once

#include <cstddef>

#include "sys/run_token.h"

// The name lookups of the host a window inspects, as that host's system resolver answers them.
// Every tool's service that looks names up offers them.
class NameService {
 public:
  virtual ~NameService() = default;

  // ResolveHost (sys/resolve_host.h) on the inspected host: the first address of a name as
  // text, or the official name of an address, into `destination`; 1 when found, else 0. With
  // a token, a cancelled run ends the wait at once with 0 (the lookup finishes unseen).
  virtual int resolveHost(const char* name, char* destination, size_t capacity,
                          const RunToken* token = nullptr) = 0;
};
