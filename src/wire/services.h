#pragma once

#include <cstdint>

// The services of the boundary as the agent's stream numbers them (kFrameOpen), and the
// operations every service shares. Each tool's own operations are in its records header
// (wire/<tool>_records.h).
enum ServiceId : uint16_t {
  kServiceNames = 1,
  kServiceDns = 2,
  kServiceWhois = 3,
  kServicePing = 4,
  kServiceCapture = 5,
  kServiceSockets = 6,
  kServiceNetstat = 7,
  kServiceNetInfo = 8,
};

// kServiceNames: NameService::resolveHost.
inline constexpr uint16_t kNamesResolveHost = 1;
