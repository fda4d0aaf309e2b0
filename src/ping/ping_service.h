#pragma once

#include "sys/name_service.h"
#include "sys/run_token.h"

// What the Ping / Trace pane asks of the host it inspects.
class PingService : public NameService {
 public:
};
