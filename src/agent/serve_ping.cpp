#include <cerrno>

#include "agent/serve.h"
#include "ping/ping_service.h"
#include "wire/ping_records.h"

// The echoes go out from this host as its own window's would: its datagram socket, or the raw
// socket of the helper this agent starts.
void ServePing(Channel& channel, PingService& ping) {
  const OpenRequest& open = channel.opened();
  std::vector<uint8_t> reply;
  switch (open.operation) {
    case kPingLoadEchoService:
      reply = EncodeEchoLoaded(ping.loadEchoService());
      break;
    case kPingSendEcho: {
      const std::optional<EchoAsked> asked = DecodeEchoAsked(open.request);
      if (!asked) return channel.close(EINVAL);
      reply = EncodeEchoAnswer(
          ping.sendEcho(asked->destination, asked->ttl, asked->timeoutMs, channel.ended()));
      break;
    }
    default:
      return channel.close(ENOSYS);
  }
  channel.send(reply, &channel.ended());
  channel.close(0);
}
