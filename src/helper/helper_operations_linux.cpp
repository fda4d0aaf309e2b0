#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/capability.h>
#include <net/if.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_socket.h"
#include "capture/filter_rules.h"
#include "helper/helper_operations.h"
#include "netinfo/netinfo_system.h"
#include "netstat/endpoint_source.h"
#include "netstat/process_info.h"
#include "ping/echo.h"
#include "ping/echo_packet.h"
#include "sys/capabilities.h"
#include "wire/helper_channel.h"

namespace {

// Frames a capture writes to the window per wake-up before it looks at its stop signals again.
constexpr int kFramesPerWake = 1024;

template <typename Record>
void Send(const HelperJob& job, const Record& record) {
  SendHelperRecord(job.channel, &record, sizeof record);
}

// The broadcast addresses of the subnets of this machine's interfaces (network order), read
// again when the last reading is older than a second. The kernel refuses a broadcast all the
// same (the echo socket never allows one), so a reading a moment old does no harm.
std::vector<uint32_t> LocalBroadcasts() {
  static std::mutex mutex;
  static std::vector<uint32_t> broadcasts;
  static std::chrono::steady_clock::time_point readAt;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(mutex);
  if (!broadcasts.empty() && now - readAt < std::chrono::seconds(1)) return broadcasts;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {0};  // 0 stands for "cannot tell"
  broadcasts.assign(1, 0xFFFFFFFF);
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in address{}, mask{};
    std::memcpy(&address, entry->ifa_addr, sizeof address);
    if (entry->ifa_netmask != nullptr) std::memcpy(&mask, entry->ifa_netmask, sizeof mask);
    const uint32_t bits = ntohl(mask.sin_addr.s_addr);
    // Subnets of /31 and /32 have no broadcast address.
    if (bits < 0xFFFFFFFE) {
      broadcasts.push_back(htonl((ntohl(address.sin_addr.s_addr) & bits) | ~bits));
    }
    if ((entry->ifa_flags & IFF_BROADCAST) != 0 && entry->ifa_broadaddr != nullptr) {
      sockaddr_in broadcast{};
      std::memcpy(&broadcast, entry->ifa_broadaddr, sizeof broadcast);
      broadcasts.push_back(broadcast.sin_addr.s_addr);
    }
  }
  freeifaddrs(list);
  readAt = now;
  return broadcasts;
}

// An echo goes to one host: never to the unspecified or the limited broadcast address, a
// multicast group, or the broadcast address of a subnet of this machine's interfaces. An IPv6
// echo never goes to ::, a group, or an IPv4-mapped address (an IPv4 host, which the checks of
// IPv4 would have to judge).
bool IsUnicastDestination(const IpAddress& address) {
  if (address.isIpv6()) return IsSingleHostIpv6(address);
  const uint32_t destination = address.ipv4();
  const uint32_t host = ntohl(destination);
  if (host == 0 || host == 0xFFFFFFFF || (host >> 28) == 0xE) return false;
  const std::vector<uint32_t> broadcasts = LocalBroadcasts();
  return broadcasts.front() != 0 &&
         std::find(broadcasts.begin(), broadcasts.end(), destination) == broadcasts.end();
}

// The capture child's wait for frames, its stop signals and the interface's end: 0 after a
// stop (the window's Stop, its closed pipe, its end), else the errno of the failed capture.
int StreamUntilStopped(CaptureSocket* socket, const HelperJob& job) {
  for (;;) {
    pollfd fds[4] = {{CaptureWaitFd(socket), POLLIN, 0},
                     {job.wakeFd, POLLIN, 0},
                     {job.channel, 0, 0},               // hangs up when the window ends
                     {CaptureStreamFd(socket), 0, 0}};  // fails when the window closed it
    const int ready = poll(fds, 4, CaptureWaitLimitMs(socket));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return errno;
    if (fds[1].revents != 0 || fds[2].revents != 0 || fds[3].revents != 0) return 0;
    // Frames wait, or the reminder to read again after the interface went down.
    if (StreamWaitingFrames(socket, kFramesPerWake) < 0) return errno == EPIPE ? 0 : errno;
  }
}

// The capture, in a child process of its own: it opens the capture with CAP_NET_RAW, gives up
// every capability, hands the window the read end of a pipe and writes the frames into it.
void CaptureInChild(const HelperJob& job) {
  // Only its own window's channel and wake-up: not the other windows' channels, nor the
  // meeting place.
  const int low = std::min(job.channel, job.wakeFd), high = std::max(job.channel, job.wakeFd);
  for (int fd = 3; fd < high; ++fd) {
    if (fd != low) close(fd);
  }
  CloseDescriptorsAbove(high);
  const HelperRequest& request = job.request;
  CaptureOptions options;
  options.kernelFilter = KernelFilterExpression(request.filter, request.exclusion);
  int error = EPERM;
  CaptureSocket* socket = nullptr;
  {
    RaisedCapabilities raw({CAP_NET_RAW});
    if (raw.ok()) socket = OpenCaptureSocket(request.captureAddress, options, &error);
  }
  if (!DropAllCapabilities()) {
    CloseCaptureSocket(socket);
    socket = nullptr;
    error = EPERM;
  }
  int ends[2] = {-1, -1};
  if (socket != nullptr && pipe2(ends, O_CLOEXEC) != 0) error = errno;
  if (socket == nullptr || ends[0] < 0 || !StreamCaptureTo(socket, ends[1])) {
    if (ends[0] >= 0) close(ends[0]);
    if (error == 0) error = EIO;
    CloseCaptureSocket(socket);
    SendHelperStatus(job.channel, request.id, error);
    return;
  }
  const auto opened = NewHelperRecord<HelperBareRecord>(kHelperCaptureOpened, request.id);
  const bool handed = SendHelperRecord(job.channel, &opened, sizeof opened, ends[0]) == 0;
  close(ends[0]);
  auto ended = NewHelperRecord<HelperCaptureEndedReply>(kHelperCaptureEnded, request.id);
  ended.error = handed ? StreamUntilStopped(socket, job) : EPIPE;
  const CaptureCounts counts = CaptureStatistics(socket);
  ended.received = counts.received;
  ended.dropped = counts.dropped;
  CloseCaptureSocket(socket);
  Send(job, ended);
}

}  // namespace

uint64_t HelperCapabilities() {
  return CapabilityBit(CAP_NET_RAW) | CapabilityBit(CAP_NET_ADMIN) | CapabilityBit(CAP_SYS_PTRACE) |
         CapabilityBit(CAP_DAC_READ_SEARCH);
}

bool CloseDescriptorsAbove(int last) {
  if (syscall(SYS_close_range, last + 1, ~0U, 0) == 0) return true;
  DIR* open = opendir("/proc/self/fd");  // kernels before 5.9
  if (open == nullptr) return false;
  std::vector<int> others;
  while (const dirent* entry = readdir(open)) {
    const int fd = std::atoi(entry->d_name);
    if (fd > last && fd != dirfd(open)) others.push_back(fd);
  }
  closedir(open);
  for (const int fd : others) close(fd);
  return true;
}

void SendHelperStatus(int channel, uint32_t id, int error) {
  auto reply = NewHelperRecord<HelperStatusReply>(kHelperStatus, id);
  reply.error = error;
  SendHelperRecord(channel, &reply, sizeof reply);
}

void RunEcho(const HelperJob& job) {
  const HelperRequest& request = job.request;
  if (!IsUnicastDestination(request.destination)) {
    SendHelperStatus(job.channel, request.id, EACCES);
    return;
  }
  int fd = -1;
  int error = EPERM;
  {
    RaisedCapabilities raw({CAP_NET_RAW});
    if (raw.ok()) {
      fd = OpenEchoSocket(EchoSocketKind::Raw, request.destination.family());
      error = fd < 0 ? errno : 0;
    }
  }
  if (fd < 0) {
    SendHelperStatus(job.channel, request.id, error);
    return;
  }
  EchoResult result;
  IpAddress answerer;
  const int answered = SendEchoOnSocket(fd, EchoSocketKind::Raw, request.destination, request.ttl,
                                        request.timeoutMs, &result, &answerer, job.wakeFd);
  auto reply = NewHelperRecord<HelperEchoReply>(kHelperEchoResult, request.id);
  reply.answered = answered;
  reply.status = result.status;
  reply.address = WireAddressOf(answerer);
  reply.roundTripMs = result.roundTripMs;
  Send(job, reply);
}

void RunCapture(const HelperJob& job) {
  const pid_t child = fork();
  if (child < 0) {
    SendHelperStatus(job.channel, job.request.id, errno);
    return;
  }
  if (child == 0) {
    CaptureInChild(job);
    _exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // A child that died before its last reply: the capture is over all the same.
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    auto ended = NewHelperRecord<HelperCaptureEndedReply>(kHelperCaptureEnded, job.request.id);
    ended.error = EIO;
    Send(job, ended);
  }
}

void RunKill(const HelperJob& job) {
  const HelperRequest& r = job.request;
  int error = EPERM;
  {
    RaisedCapabilities admin({CAP_NET_ADMIN});
    if (admin.ok()) {
      error =
          DestroyEstablishedConnection(r.localAddress, r.localPort, r.remoteAddress, r.remotePort);
    }
  }
  SendHelperStatus(job.channel, r.id, error);
}

void RunFlush(const HelperJob& job) {
  int error = EPERM;
  {
    RaisedCapabilities admin({CAP_NET_ADMIN});
    if (admin.ok()) error = FlushDynamicNeighbours(job.request.interfaceIndex);
  }
  SendHelperStatus(job.channel, job.request.id, error);
}

void RunOwners(const HelperJob& job) {
  std::optional<EndpointOwners> owners;
  int error = EPERM;
  {
    RaisedCapabilities look({CAP_SYS_PTRACE, CAP_DAC_READ_SEARCH});
    if (look.ok()) {
      owners = ReadEndpointOwners();
      error = owners ? 0 : EIO;
    }
  }
  if (owners) {
    auto pairs = NewHelperRecord<HelperOwnerPairsReply>(kHelperOwnerPairs, job.request.id);
    for (const auto& [inode, processId] : owners->processOfInode) {
      if (processId == 0) continue;  // no owner seen
      pairs.pairs[pairs.count++] = OwnerPair{inode, processId};
      if (pairs.count == kOwnerPairsPerReply) {
        Send(job, pairs);
        pairs.count = 0;
      }
    }
    if (pairs.count > 0) Send(job, pairs);
    auto names = NewHelperRecord<HelperOwnerNamesReply>(kHelperOwnerNames, job.request.id);
    for (const auto& [processId, name] : owners->nameOfProcess) {
      OwnerName& entry = names.names[names.count++];
      entry = OwnerName{};
      entry.processId = processId;
      entry.length = uint32_t(std::min<size_t>(name.size(), kOwnerNameLimit - 1));
      std::memcpy(entry.name, name.data(), entry.length);
      if (names.count == kOwnerNamesPerReply) {
        Send(job, names);
        names.count = 0;
      }
    }
    if (names.count > 0) Send(job, names);
  }
  SendHelperStatus(job.channel, job.request.id, error);
}

void RunFact(const HelperJob& job) {
  const HelperRequest& r = job.request;
  auto reply = NewHelperRecord<HelperFactReply>(kHelperFactResult, r.id);
  int error = EPERM;
  {
    RaisedCapabilities look({CAP_SYS_PTRACE, CAP_DAC_READ_SEARCH});
    // Held once: the check and the reads are of this one process, whatever takes its id after.
    const ProcessHandle process(r.processId);
    if (look.ok()) error = OwnsEndpoint(process) ? 0 : ESRCH;
    if (error == 0 && (r.fact == kFactCommandLine || r.fact == kFactImagePath)) {
      const int selector = r.fact == kFactImagePath ? kSelectImagePath : kSelectCommandLine;
      reply.result = ReadProcessParameterOf(process, selector, reply.text, r.capacity);
      if (reply.result >= 0) reply.length = uint32_t(strnlen(reply.text, r.capacity));
    } else if (error == 0 && r.fact == kFactExecutablePath) {
      const std::optional<std::string> path = ReadExecutablePathOf(process);
      reply.result = -1;
      if (path && path->size() < kFactTextLimit) {
        reply.result = 0;
        reply.length = uint32_t(path->size());
        std::memcpy(reply.text, path->data(), path->size());
      }
    } else if (error == 0) {
      reply.workingSet = GetProcessWorkingSetOf(process);
    }
  }
  if (error != 0) {
    SendHelperStatus(job.channel, r.id, error);
  } else {
    Send(job, reply);
  }
}
