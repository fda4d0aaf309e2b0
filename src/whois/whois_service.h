#pragma once

#include "sys/name_service.h"
#include "sys/run_token.h"

// What the Whois pane asks of the host it inspects.
class WhoisService : public NameService {
 public:
};
