#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ping/echo_status.h"
#include "base/ip_address.h"
#include "base/ipv4_text.h"

// Fixed values of the two kinds of run.
inline constexpr int kPingTtl = 128;
inline constexpr uint32_t kPingTimeoutMs = 3000;
inline constexpr uint32_t kTraceTimeoutMs = 2000;
inline constexpr int kTraceMaxTtl = 254;
inline constexpr size_t kStatusTextCapacity = 200;

// One line of the trace table: TTL, replying address, time and status text, each padded.
std::string FormatHopLine(int ttl, const EchoResult& result);
// The same with the replying address of either family; an IPv6 address longer than its column
// pushes what follows.
std::string FormatHopLine(int ttl, const EchoResult& result, const IpAddress& answerer);

// Whether a trace goes on after the echo with this TTL: on after a router's report, on after a
// silent first hop; it stops when the destination answered, at the first silent hop from
// TTL 2 on, and after the last TTL.
bool TraceGoesOn(int ttl, int echoReturn, uint32_t status);

// The two kinds of run, printing through `print`. `pingOnce` returns the round-trip time of one
// echo or -1; `echo` sends one echo with the given TTL and time-out and returns what SendEcho
// returns; `cancelled` ends a trace between hops, printing nothing more.
using PingFunction = std::function<int()>;
using EchoFunction = std::function<int(int ttl, uint32_t timeoutMs, EchoResult* result)>;
using PrintFunction = std::function<void(const std::string& text)>;
// An echo that also names who answered, of either family (SendEcho to an IpAddress).
using AnyEchoFunction =
    std::function<int(int ttl, uint32_t timeoutMs, EchoResult* result, IpAddress* answerer)>;

void RunPing(const PingFunction& pingOnce, const PrintFunction& print);
void RunTrace(const EchoFunction& echo, const PrintFunction& print,
              const std::function<bool()>& cancelled);
void RunTrace(const AnyEchoFunction& echo, const PrintFunction& print,
              const std::function<bool()>& cancelled);
