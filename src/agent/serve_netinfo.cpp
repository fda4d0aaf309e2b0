#include <cerrno>
#include <cstdint>

#include "agent/serve.h"
#include "netinfo/netinfo_service.h"
#include "wire/netinfo_records.h"

void ServeNetInfo(Channel& channel, NetInfoService& netinfo) {
  const OpenRequest& open = channel.opened();
  std::vector<uint8_t> reply;
  switch (open.operation) {
    case kNetInfoParams:
      reply = EncodeNetworkParams(netinfo.networkParams());
      break;
    case kNetInfoAdapters:
      reply = EncodeAdapterList(netinfo.adapters());
      break;
    case kNetInfoDnsServers:
      reply = EncodeDnsServerTexts(netinfo.dnsServers());
      break;
    case kNetInfoDhcpLease: {
      const std::optional<AdapterRecord> adapter = DecodeAdapterRecord(open.request);
      if (!adapter) return channel.close(EINVAL);
      reply = EncodeDhcpLease(netinfo.dhcpLease(*adapter));
      break;
    }
    case kNetInfoStatistics: {
      const std::optional<NetInfoStatisticsAsked> asked = DecodeStatisticsAsked(open.request);
      if (!asked) return channel.close(EINVAL);
      reply = EncodeInterfaceStatistics(netinfo.statistics(asked->index, asked->name));
      break;
    }
    case kNetInfoEndStatistics:
      netinfo.endStatistics();
      return channel.close(0);
    case kNetInfoFlushNeighbours: {
      const std::optional<int> index = DecodeNetInfoNumber(open.request, 1, INT32_MAX);
      if (!index) return channel.close(EINVAL);
      reply = EncodeNetInfoNumber(netinfo.flushNeighbours(*index));
      break;
    }
    default:
      return channel.close(ENOSYS);
  }
  channel.send(reply, &channel.ended());
  channel.close(0);
}
