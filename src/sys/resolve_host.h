#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "base/ip_address.h"

// Longest name ResolveHost accepts, and the work buffer its result passes through.
inline constexpr size_t kResolveMaxName = 128;
inline constexpr size_t kResolveWorkBuffer = 200;

// An address (in any form inet_addr accepts, or an IPv6 address as inet_pton reads it) becomes
// the host's official name; any other text becomes the host's first IPv4 address in dotted form,
// or its first IPv6 address when it has no IPv4 one. The result is cut to fit `capacity`
// (terminator included). `destination` may be `name` itself. Returns 1 on success, 0 on failure;
// it shows no message. Blocks for the lookup.
int ResolveHost(const char* name, char* destination, size_t capacity);

// ResolveHost on a thread of its own while the caller waits for the result or for `stopFd` to
// become readable (it is only polled, never read). Returns 1 or 0 as ResolveHost does, or -1
// when the stop came first: a lookup cannot be interrupted, so it finishes in the background
// and its result is dropped. Without a thread to spare the lookup runs on the calling thread.
int ResolveHostUnlessStopped(const char* name, char* destination, size_t capacity, int stopFd);

// The lookups ResolveHost makes, so its rules can be checked without a resolver.
struct HostLookups {
  // Official name of the host at this IPv4 address (network byte order), if any.
  std::optional<std::string> (*nameOfAddress)(uint32_t address);
  // The name's first IPv4 address in dotted form, else its first IPv6 address as text, if any.
  std::optional<std::string> (*addressOfName)(const std::string& name);
  // Official name of the host at this IPv6 address, if any; without it no IPv6 address has one.
  std::optional<std::string> (*nameOfIpv6Address)(const IpAddress& address) = nullptr;
};

int ResolveHostWith(const HostLookups& lookups, const char* name, char* destination,
                    size_t capacity);

// The system's lookups (getnameinfo / getaddrinfo).
const HostLookups& SystemHostLookups();
