#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// NameService::resolveHost over the agent's stream: the name and the capacity asked, then one
// message with what was found.
struct ResolveHostAsked {
  std::string name;
  uint32_t capacity = 0;
};
struct ResolveHostFound {
  bool found = false;
  std::string text;  // shorter than the capacity asked
};

// Longest name or result text either side takes.
inline constexpr size_t kNameTextLimit = 1024;

std::vector<uint8_t> EncodeResolveHostAsked(const ResolveHostAsked& asked);
std::optional<ResolveHostAsked> DecodeResolveHostAsked(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> EncodeResolveHostFound(const ResolveHostFound& found);
std::optional<ResolveHostFound> DecodeResolveHostFound(const std::vector<uint8_t>& bytes);
