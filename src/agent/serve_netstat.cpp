#include <cerrno>

#include "agent/serve.h"

void ServeNetstat(Channel& channel, NetstatService&) {
  channel.close(ENOSYS);
}
