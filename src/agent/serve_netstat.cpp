#include <algorithm>
#include <cerrno>

#include "agent/serve.h"
#include "netstat/netstat_service.h"
#include "wire/netstat_records.h"

namespace {

// The snapshot in batches, then the channel's end: EIO when the tables could not be read.
void ServeEndpoints(Channel& channel, NetstatService& netstat) {
  const std::shared_ptr<const EndpointSnapshot> snapshot = netstat.endpoints(&channel.ended());
  if (!snapshot) return channel.close(channel.ended().cancelled() ? ECANCELED : EIO);
  const std::vector<EndpointRecord>& records = snapshot->records;
  for (size_t at = 0; at < records.size(); at += kEndpointBatchRecords) {
    const size_t end = std::min(records.size(), at + kEndpointBatchRecords);
    const int sent = channel.send(EncodeEndpointBatch(records, at, end), &channel.ended());
    if (sent != 0) return channel.close(sent);
  }
  channel.close(0);
}

}  // namespace

void ServeNetstat(Channel& channel, NetstatService& netstat) {
  const OpenRequest& open = channel.opened();
  std::vector<uint8_t> reply;
  switch (open.operation) {
    case kNetstatEndpoints:
      return ServeEndpoints(channel, netstat);
    case kNetstatKillConnection: {
      const std::optional<EndpointRecord> record = DecodeEndpointRecord(open.request);
      if (!record) return channel.close(EINVAL);
      reply = EncodeNetstatNumber(uint32_t(netstat.killConnection(*record)));
      break;
    }
    case kNetstatTerminateProcess:
    case kNetstatExecutableFile:
    case kNetstatWorkingSet: {
      const std::optional<uint64_t> processId = DecodeNetstatNumber(open.request);
      if (!processId || *processId > UINT32_MAX) return channel.close(EINVAL);
      const uint32_t pid = uint32_t(*processId);
      if (open.operation == kNetstatTerminateProcess) {
        reply = EncodeTerminateResult(netstat.terminateProcess(pid));
      } else if (open.operation == kNetstatExecutableFile) {
        reply = EncodeExecutableFile(netstat.executableFile(pid));
      } else {
        reply = EncodeNetstatNumber(netstat.workingSet(pid));
      }
      break;
    }
    case kNetstatProcessText: {
      const std::optional<ProcessTextAsked> asked = DecodeProcessTextAsked(open.request);
      if (!asked) return channel.close(EINVAL);
      reply = EncodeProcessText(
          netstat.processText(asked->processId, asked->imagePath, asked->capacity));
      break;
    }
    case kNetstatServiceName: {
      const std::optional<ServiceNameAsked> asked = DecodeServiceNameAsked(open.request);
      if (!asked) return channel.close(EINVAL);
      reply = EncodeNetstatText(netstat.serviceName(asked->port, asked->udp));
      break;
    }
    default:
      return channel.close(ENOSYS);
  }
  channel.send(reply, &channel.ended());
  channel.close(0);
}
