#pragma once

#include <cstdint>

#include "base/ip_address.h"
#include "ping/echo_status.h"
#include "sys/name_service.h"
#include "sys/run_token.h"

// What the Ping / Trace pane asks of the host it inspects: its echo service.

// What one echo learnt (SendEcho's outputs).
struct EchoAnswer {
  int answered = 0;    // 1: the destination answered or a router reported the TTL expired
  EchoResult result;   // status and round-trip time; `address` 0 for an IPv6 echo
  IpAddress answerer;  // of the destination's family; 0.0.0.0 or :: for nobody
};

class PingService : public NameService {
 public:
  // LoadEchoService on the host: whether it found a way to send echo requests (a datagram socket
  // of its own, or its helper's raw one). Asking the helper may take up to its quick time-out.
  virtual bool loadEchoService() = 0;
  // SendEcho from the host, with who answered. A cancelled token ends the wait at once as a
  // failed echo.
  virtual EchoAnswer sendEcho(const IpAddress& destination, int ttl, uint32_t timeoutMs,
                              const RunToken& token) = 0;
};
