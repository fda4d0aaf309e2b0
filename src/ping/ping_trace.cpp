#include "ping/ping_trace.h"

#include "base/format_bounded.h"

std::string FormatHopLine(int ttl, const EchoResult& result) {
  return FormatHopLine(ttl, result, IpAddress::Ipv4(result.address));
}

std::string FormatHopLine(int ttl, const EchoResult& result, const IpAddress& answerer) {
  char status[kStatusTextCapacity];
  EchoStatusText(result.status, status, sizeof status);
  return FormatLine(kLineCapacity, "%-3d  %-15s  %-5d  %s\r\n", ttl, answerer.text().c_str(),
                    result.roundTripMs, status);
}

bool TraceGoesOn(int ttl, int echoReturn, uint32_t status) {
  if (ttl >= kTraceMaxTtl) return false;
  if (echoReturn == 1) return status != kEchoSuccess;
  return ttl == 1;
}

void RunPing(const PingFunction& pingOnce, const PrintFunction& print) {
  print("Pinging Host...");
  const int roundTripMs = pingOnce();
  if (roundTripMs != -1) {
    print(FormatLine(kLineCapacity, "\r\n\r\n\t%dms", roundTripMs));
  } else {
    print("\r\n\r\nPing Failed!");
  }
}

void RunTrace(const EchoFunction& echo, const PrintFunction& print,
              const std::function<bool()>& cancelled) {
  RunTrace(
      [&](int ttl, uint32_t timeoutMs, EchoResult* result, IpAddress* answerer) {
        const int answered = echo(ttl, timeoutMs, result);
        *answerer = IpAddress::Ipv4(result->address);
        return answered;
      },
      print, cancelled);
}

void RunTrace(const AnyEchoFunction& echo, const PrintFunction& print,
              const std::function<bool()>& cancelled) {
  print("Begining Trace");
  print("...\r\n\r\n");
  print("TTL  Host             Ms     Status\r\n");
  print("-----------------------------------\r\n");
  for (int ttl = 1; ttl <= kTraceMaxTtl; ++ttl) {
    EchoResult result;
    IpAddress answerer;
    const int answered = echo(ttl, kTraceTimeoutMs, &result, &answerer);
    if (cancelled()) return;
    print(FormatHopLine(ttl, result, answerer));
    if (!TraceGoesOn(ttl, answered, result.status)) break;
  }
  print("\r\nTrace Complete");
}
