#include <cerrno>

#include "agent/serve.h"

void ServeWhois(Channel& channel, WhoisService&) {
  channel.close(ENOSYS);
}
