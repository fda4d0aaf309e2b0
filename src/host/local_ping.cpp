// This computer's echo service: the choice of socket, and the routing of each echo to this
// process's datagram socket or to the helper's raw one.
#include <unistd.h>
// after the system headers: it declares what they use
#include <linux/capability.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "host/helper_client.h"
#include "host/local_echo.h"
#include "host/local_services.h"
#include "ping/echo.h"
#include "ping/ping_service.h"
#include "sys/capabilities.h"

namespace {

std::atomic<EchoSocketKind> g_kind{EchoSocketKind::None};
// Held while the choice is made: an echo waits for it rather than taking the choice before.
std::shared_mutex g_choosing;

// The echo through the helper's raw socket, as SendEcho reports it.
int SendEchoThroughHelper(const IpAddress& destination, uint8_t ttl, uint32_t timeoutMs,
                          EchoResult* result, IpAddress* answerer, int wakeFd) {
  const IpAddress::Family family = destination.family();
  auto request = NewHelperRecord<HelperEchoRequest>(kHelperEcho);
  request.destination = WireAddressOf(destination);
  request.ttl = ttl;
  request.timeoutMs = timeoutMs;
  HelperCall call(request);
  HelperReply reply;
  const int error = call.error() != 0 ? call.error() : call.next(reply, wakeFd);
  if (error == ECANCELED) {
    FailEcho(result, answerer, family, kEchoReqTimedOut);  // as a wait ended by the wake-up
    return 0;
  }
  if (error != 0) {
    FailEcho(result, answerer, family, kEchoGeneralFailure);
    return 0;
  }
  if (reply.type() != kHelperEchoResult) {
    // Refused, or no raw socket.
    FailEcho(result, answerer, family, StatusOfSendError(reply.error()));
    return 0;
  }
  const HelperEchoReply echo = reply.as<HelperEchoReply>();
  SetEchoAnswerer(result, answerer, family, AddressOfWire(echo.address));
  result->status = echo.status;
  result->roundTripMs = echo.roundTripMs;
  return echo.answered == 1 ? 1 : 0;
}

class LocalPingService : public PingService {
 public:
  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }

  bool loadEchoService() override { return LoadEchoService() == 1; }

  EchoAnswer sendEcho(const IpAddress& destination, int ttl, uint32_t timeoutMs,
                      const RunToken& token) override {
    EchoAnswer answer;
    answer.answered =
        SendEcho(destination, ttl, timeoutMs, &answer.result, &answer.answerer, token.wakeFd());
    return answer;
  }
};

}  // namespace

int LoadEchoService() {
  const std::unique_lock<std::shared_mutex> choosing(g_choosing);
  const int probe = OpenEchoSocket(EchoSocketKind::Datagram);
  EchoSocketKind kind = EchoSocketKind::None;
  if (probe >= 0) {
    close(probe);
    kind = EchoSocketKind::Datagram;
  } else {
    // Raw sockets are the helper's: ask whether it may open them.
    HelperCall call(NewHelperRecord<HelperBareRecord>(kHelperHello));
    HelperReply reply;
    if (HelperCall::Finish(call, reply, kHelperQuickTimeoutMs) == 0 &&
        reply.type() == kHelperAbilities &&
        (reply.as<HelperAbilitiesReply>().capabilities & CapabilityBit(CAP_NET_RAW)) != 0) {
      kind = EchoSocketKind::Raw;
    }
  }
  g_kind.store(kind);
  return kind == EchoSocketKind::None ? 0 : 1;
}

EchoSocketKind LoadedEchoSocketKind() {
  return g_kind.load();
}

int SendEcho(uint32_t destination, int ttl, uint32_t timeoutMs, EchoResult* result, int wakeFd) {
  return SendEcho(IpAddress::Ipv4(destination), ttl, timeoutMs, result, nullptr, wakeFd);
}

int SendEcho(const IpAddress& destination, int ttl, uint32_t timeoutMs, EchoResult* result,
             IpAddress* answerer, int wakeFd) {
  if (result == nullptr) return 0;
  EchoSocketKind kind;
  {
    const std::shared_lock<std::shared_mutex> chosen(g_choosing);
    kind = g_kind.load();
  }
  switch (kind) {
    case EchoSocketKind::Datagram:
      return SendEchoOnSocket(OpenEchoSocket(EchoSocketKind::Datagram, destination.family()),
                              EchoSocketKind::Datagram, destination, ttl, timeoutMs, result,
                              answerer, wakeFd);
    case EchoSocketKind::Raw:
      return SendEchoThroughHelper(destination, static_cast<uint8_t>(ttl), timeoutMs, result,
                                   answerer, wakeFd);
    default:
      FailEcho(result, answerer, destination.family(), kEchoGeneralFailure);
      return 0;
  }
}

int PingOnce(uint32_t destination, int wakeFd) {
  return PingOnce(IpAddress::Ipv4(destination), wakeFd);
}

int PingOnce(const IpAddress& destination, int wakeFd) {
  EchoResult result;
  return SendEcho(destination, 128, 3000, &result, nullptr, wakeFd) == 1 ? result.roundTripMs : -1;
}

std::unique_ptr<PingService> NewLocalPingService() {
  return std::make_unique<LocalPingService>();
}
