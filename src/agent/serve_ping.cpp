#include <cerrno>

#include "agent/serve.h"

void ServePing(Channel& channel, PingService&) {
  channel.close(ENOSYS);
}
