#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/ip_address.h"
#include "ping/ping_service.h"

// PingService over the agent's stream. Each operation: its request in kFrameOpen, one reply
// message, then the channel's end.
inline constexpr uint16_t kPingLoadEchoService = 1;  // nothing -> bool
inline constexpr uint16_t kPingSendEcho = 2;         // EchoAsked -> EchoAnswer

struct EchoAsked {
  IpAddress destination;
  int32_t ttl = 0;
  uint32_t timeoutMs = 0;
};

std::vector<uint8_t> EncodeEchoLoaded(bool loaded);
std::optional<bool> DecodeEchoLoaded(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeEchoAsked(const EchoAsked& asked);
std::optional<EchoAsked> DecodeEchoAsked(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeEchoAnswer(const EchoAnswer& answer);
std::optional<EchoAnswer> DecodeEchoAnswer(const std::vector<uint8_t>& bytes);
