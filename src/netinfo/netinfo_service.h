#pragma once

#include "sys/name_service.h"
#include "sys/run_token.h"

// What the NetInfo pane asks of the host it inspects.
class NetInfoService : public NameService {
 public:
};
