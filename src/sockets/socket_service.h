#pragma once

#include "sys/name_service.h"
#include "sys/run_token.h"

// What the TCP Socket and UDP Socket panes ask of the host it inspects.
class SocketService : public NameService {
 public:
};
