#include <cerrno>

#include "agent/serve.h"

void ServeCapture(Channel& channel, CaptureService&) {
  channel.close(ENOSYS);
}
