#pragma once

#include "sys/name_service.h"
#include "sys/run_token.h"

// What the Netstat pane asks of the host it inspects.
class NetstatService : public NameService {
 public:
};
