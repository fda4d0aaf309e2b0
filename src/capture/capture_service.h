#pragma once

#include "sys/name_service.h"
#include "sys/run_token.h"

// What the Packet Capture pane asks of the host it inspects.
class CaptureService : public NameService {
 public:
};
