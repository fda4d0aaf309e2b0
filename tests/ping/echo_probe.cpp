// Runs the echo service as whatever user and in whatever namespace it is started in, for the
// tests that need another user than the test's own. Usage:
//   ping_echo_probe ADDRESS TTL TIMEOUT_MS [ADDRESS TTL TIMEOUT_MS ...]   (IPv4 or IPv6)
// Prints "load <0|1> <none|datagram|raw>", then per echo "<return> <status> <address> <ms>".
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "host/local_echo.h"
#include "ping/echo.h"
#include "ping/ping_trace.h"

namespace {

const char* KindName(EchoSocketKind kind) {
  switch (kind) {
    case EchoSocketKind::Datagram:
      return "datagram";
    case EchoSocketKind::Raw:
      return "raw";
    default:
      return "none";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (argc - 1) % 3 != 0) {
    std::fprintf(stderr, "usage: %s ADDRESS TTL TIMEOUT_MS...\n", argv[0]);
    return 2;
  }
  const int loaded = LoadEchoService();
  std::printf("load %d %s\n", loaded, KindName(LoadedEchoSocketKind()));
  for (int i = 1; i + 2 < argc; i += 3) {
    const std::optional<IpAddress> destination = ParseIpAddress(argv[i]);
    if (!destination) return 2;
    EchoResult result;
    IpAddress answerer;
    const int answered =
        SendEcho(*destination, std::atoi(argv[i + 1]),
                 static_cast<uint32_t>(std::atol(argv[i + 2])), &result, &answerer);
    std::printf("%d %u %s %d\n", answered, result.status, answerer.text().c_str(),
                result.roundTripMs);
  }
  return 0;
}
