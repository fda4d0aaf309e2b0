#pragma once

#include <cstdint>

#include "base/ip_address.h"
#include "ping/echo_status.h"

// The ICMP echo service: one echo request with a chosen time-to-live, and who answered it; over
// ICMPv6 with the hop limit for an IPv6 destination.

// The socket the service sends with (LoadEchoService, host/local_echo.h): an ICMP (ICMPv6)
// datagram socket of the process that sends, or a raw ICMP (ICMPv6) socket of the privileged
// helper.
enum class EchoSocketKind { None, Datagram, Raw };

// The longest wait for an answer; longer time-outs are cut to it.
inline constexpr uint32_t kLongestEchoTimeoutMs = 60000;

// The two halves of SendEcho (host/local_echo.h) in the process that owns the socket (the helper
// for a raw one): opens a non-blocking socket of the kind for the family (-1 on failure, errno
// set), and sends the echo on it, closing it, as SendEcho reports it.
int OpenEchoSocket(EchoSocketKind kind, IpAddress::Family family = IpAddress::Family::kIpv4);
int SendEchoOnSocket(int fd, EchoSocketKind kind, const IpAddress& destination, int ttl,
                     uint32_t timeoutMs, EchoResult* result, IpAddress* answerer, int wakeFd);

// Who answered an echo to an address of `family`: the result's IPv4 `address` (0 for an IPv6
// echo) and the answerer, if asked for (nobody: 0.0.0.0 or ::).
void SetEchoAnswerer(EchoResult* result, IpAddress* answerer, IpAddress::Family family,
                     const IpAddress& from);
// A failed echo to an address of `family`, reported by `from` (nobody: 0.0.0.0 or ::).
void FailEcho(EchoResult* result, IpAddress* answerer, IpAddress::Family family, uint32_t status,
              const IpAddress& from = IpAddress());
