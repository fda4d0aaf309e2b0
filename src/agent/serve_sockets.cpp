#include <cerrno>

#include "agent/serve.h"

void ServeSockets(Channel& channel, SocketService&) {
  channel.close(ENOSYS);
}
