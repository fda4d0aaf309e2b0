#pragma once

#include <cstdint>

#include "base/ip_address.h"
#include "ping/echo.h"
#include "ping/echo_status.h"

// This computer's ICMP echo service as the window (or the agent) reaches it: an ICMP datagram
// socket of this process, or the privileged helper's raw socket. LocalPingService answers with
// these; the helper's own half is SendEchoOnSocket (ping/echo.h).

// Finds a way to send echo requests: an ICMP datagram socket where the system allows this user
// one (net.ipv4.ping_group_range, which rules ICMPv6 datagram sockets too), else the helper's
// raw sockets when the helper holds CAP_NET_RAW. Returns 1 when one of them can be used, else 0;
// the choice stays for the life of the process. An echo sent while it runs waits for its choice.
int LoadEchoService();
EchoSocketKind LoadedEchoSocketKind();

// Sends one echo request (32 bytes of 'E') to `destination` (network order) with the low 8 bits
// of `ttl` as time-to-live (0 becomes 255) and waits up to `timeoutMs` (0 becomes 3000, at most
// kLongestEchoTimeoutMs) for the reply or a report that quotes it; other ICMP traffic is ignored.
// Returns 1 when the destination answered (status 0) or a router reported the time-to-live expired
// on the way (status TTL_EXPIRED_TRANSIT, `address` the router); else 0 with `roundTripMs` -1: no
// answer in time (REQ_TIMED_OUT, address 0.0.0.0), another report (its status and sender), or a
// local failure. Without the service (not loaded, or no socket) the status is GENERAL_FAILURE.
// Without a result record it returns 0 and sends nothing. When `wakeFd` becomes readable the
// wait ends at once as a failed echo.
int SendEcho(uint32_t destination, int ttl, uint32_t timeoutMs, EchoResult* result,
             int wakeFd = -1);
// The same to an address of either family, with who answered in `answerer` (if given) as well:
// of the destination's family, 0.0.0.0 or :: for nobody. An IPv6 echo is an ICMPv6 one with
// `ttl` as its hop limit, and leaves the result's `address` 0; :: itself, a group and an
// IPv4-mapped address are refused as BAD_DESTINATION.
int SendEcho(const IpAddress& destination, int ttl, uint32_t timeoutMs, EchoResult* result,
             IpAddress* answerer, int wakeFd = -1);

// One echo with TTL 128 and a time-out of 3000 ms: the round-trip time, or -1 on failure.
int PingOnce(uint32_t destination, int wakeFd = -1);
int PingOnce(const IpAddress& destination, int wakeFd = -1);
