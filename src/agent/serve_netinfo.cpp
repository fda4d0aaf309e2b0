#include <cerrno>

#include "agent/serve.h"

void ServeNetInfo(Channel& channel, NetInfoService&) {
  channel.close(ENOSYS);
}
