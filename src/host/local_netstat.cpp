#include "host/local_netstat.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "host/helper_client.h"
#include "host/local_services.h"
#include "netstat/endpoint_source.h"
#include "netstat/netstat_service.h"
#include "netstat/process_info.h"

namespace {

// The owners the helper finds: every process's, where it holds the privileges.
bool OwnersFromHelper(EndpointOwners& owners) {
  HelperCall call(NewHelperRecord<HelperBareRecord>(kHelperOwners));
  for (HelperReply reply; call.next(reply, -1, kHelperQuickTimeoutMs) == 0;) {
    if (reply.type() == kHelperOwnerPairs) {
      const auto pairs = reply.as<HelperOwnerPairsReply>();
      for (uint32_t i = 0; i < pairs.count; ++i) {
        owners.processOfInode.emplace(pairs.pairs[i].inode, pairs.pairs[i].processId);
      }
    } else if (reply.type() == kHelperOwnerNames) {
      const auto names = reply.as<HelperOwnerNamesReply>();
      for (uint32_t i = 0; i < names.count; ++i) {
        owners.nameOfProcess.emplace(names.names[i].processId,
                                     std::string(names.names[i].name, names.names[i].length));
      }
    } else {
      return reply.type() == kHelperStatus && reply.error() == 0;
    }
  }
  return false;
}

// A fact read by the helper; nothing when it cannot answer. Process ids that name no one
// process (0, or above INT_MAX) are never asked.
std::optional<HelperFactReply> FactFromHelper(uint32_t processId, HelperFact fact,
                                              uint32_t capacity) {
  if (processId == 0 || processId > INT_MAX) return std::nullopt;
  auto request = NewHelperRecord<HelperFactRequest>(kHelperFact);
  request.processId = processId;
  request.fact = fact;
  request.capacity = capacity;
  HelperCall call(request);
  HelperReply reply;
  if (HelperCall::Finish(call, reply, kHelperQuickTimeoutMs) != 0 ||
      reply.type() != kHelperFactResult) {
    return std::nullopt;
  }
  const auto answer = reply.as<HelperFactReply>();
  if (answer.result < 0) return std::nullopt;
  return answer;
}

class LocalNetstatService : public NetstatService {
 public:
  int resolveHost(const char* name, char* destination, size_t capacity,
                  const RunToken* token) override {
    return ResolveHostHere(name, destination, capacity, token);
  }

  std::shared_ptr<const EndpointSnapshot> endpoints(const RunToken* token) override {
    if (token != nullptr && token->cancelled()) return nullptr;
    return BuildEndpointSnapshot();
  }

  int killConnection(const EndpointRecord& record) override { return DestroyTcpConnection(record); }

  TerminateResult terminateProcess(uint32_t processId) override {
    return TerminateProcessById(processId);
  }

  std::optional<ExecutableFile> executableFile(uint32_t processId) override {
    const std::optional<std::string> path = ReadExecutablePath(processId);
    if (!path) return std::nullopt;
    return DescribeExecutableFile(*path);
  }

  ProcessText processText(uint32_t processId, bool imagePath, size_t capacity) override {
    ProcessText answer;
    if (capacity == 0) return answer;
    std::vector<char> buffer(capacity, '\0');
    answer.result = ReadProcessParameter(
        processId, imagePath ? kSelectImagePath : kSelectCommandLine, buffer.data(), capacity);
    buffer.back() = '\0';
    if (answer.result >= 0) answer.text = buffer.data();
    return answer;
  }

  uint64_t workingSet(uint32_t processId) override { return GetProcessWorkingSet(processId); }

  std::optional<std::string> serviceName(uint16_t port, bool udp) override {
    return ServiceNameOfPort(port, udp);
  }
};

}  // namespace

std::shared_ptr<const EndpointSnapshot> BuildEndpointSnapshot() {
  try {
    std::vector<DiagSocket> tcp;
    std::vector<DiagSocket> udp;
    if (!ReadEndpointTables(tcp, udp)) return nullptr;
    EndpointOwners owners;
    if (!OwnersFromHelper(owners)) owners = FindEndpointOwners(tcp, udp);
    return std::make_shared<const EndpointSnapshot>(AssembleSnapshot(tcp, udp, owners));
  } catch (const std::bad_alloc&) {
    return nullptr;  // reported as the failed refresh it is
  }
}

int DestroyTcpConnection(const EndpointRecord& record) {
  auto request = NewHelperRecord<HelperKillRequest>(kHelperKill);
  request.local = WireAddressOf(LocalAddressOf(record));
  request.remote = WireAddressOf(RemoteAddressOf(record));
  request.localPort = static_cast<uint16_t>(record.localPort & 0xFFFF);
  request.remotePort = static_cast<uint16_t>(record.remotePort & 0xFFFF);
  HelperCall call(request);
  HelperReply reply;
  return HelperCall::Finish(call, reply, kHelperQuickTimeoutMs);
}

std::optional<std::string> ReadExecutablePath(uint32_t processId) {
  if (const auto fact = FactFromHelper(processId, kFactExecutablePath, kFactTextLimit)) {
    return std::string(fact->text, fact->length);
  }
  return ReadExecutablePathOf(ProcessHandle(processId));
}

int ReadProcessParameter(uint32_t processId, int selector, char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return -1;
  const HelperFact fact = selector == kSelectCommandLine ? kFactCommandLine : kFactImagePath;
  if (capacity <= kFactTextLimit) {
    const auto answer = FactFromHelper(processId, fact, uint32_t(capacity));
    if (answer && answer->length < capacity) {
      std::memcpy(buffer, answer->text, answer->length);
      buffer[answer->length] = '\0';
      return answer->result;
    }
  }
  return ReadProcessParameterOf(ProcessHandle(processId), selector, buffer, capacity);
}

uint64_t GetProcessWorkingSet(uint32_t processId) {
  if (const auto fact = FactFromHelper(processId, kFactWorkingSet, 0)) return fact->workingSet;
  return GetProcessWorkingSetOf(ProcessHandle(processId));
}

std::unique_ptr<NetstatService> NewLocalNetstatService() {
  return std::make_unique<LocalNetstatService>();
}
