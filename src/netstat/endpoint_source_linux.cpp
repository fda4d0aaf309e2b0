#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "netstat/endpoint_source.h"
#include "netstat/proc_text.h"
#include "netstat/sock_diag_message.h"

namespace {

// A dump datagram is at most 32 KiB; room for twice that, so none is ever cut.
constexpr size_t kReceiveBuffer = 65536;
// The kernel answers at once; this only bounds a wait that should never happen.
constexpr int kReceiveTimeoutSeconds = 2;

class DiagSocketFd {
 public:
  DiagSocketFd() {
    fd_ = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd_ < 0) return;
    timeval timeout{kReceiveTimeoutSeconds, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~DiagSocketFd() {
    if (fd_ >= 0) close(fd_);
  }
  DiagSocketFd(const DiagSocketFd&) = delete;
  DiagSocketFd& operator=(const DiagSocketFd&) = delete;

  bool valid() const { return fd_ >= 0; }

  bool send(uint16_t type, uint16_t flags, uint32_t sequence, const inet_diag_req_v2& request) {
    struct {
      nlmsghdr header;
      inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = type;
    message.header.nlmsg_flags = static_cast<uint16_t>(NLM_F_REQUEST | flags);
    message.header.nlmsg_seq = sequence;
    message.request = request;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    const ssize_t sent = sendto(fd_, &message, sizeof message, 0,
                                reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    return sent == static_cast<ssize_t>(sizeof message);
  }

  // One datagram into `buffer`; its length, or -1 on failure or a datagram cut short.
  ssize_t receive(std::vector<uint8_t>& buffer) {
    iovec part{buffer.data(), buffer.size()};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    for (;;) {
      const ssize_t n = recvmsg(fd_, &header, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || (header.msg_flags & MSG_TRUNC)) return -1;
      return n;
    }
  }

 private:
  int fd_ = -1;
};

// Every state of a connection, LISTEN and NEW_SYN_RECV included (bits 0 to 12). Not bit 13: a
// TCP socket that is only bound, neither listening nor connected, is no endpoint, and newer
// kernels list those only for a request that names that bit.
constexpr uint32_t kEndpointStates = (1u << 13) - 1;

inet_diag_req_v2 RequestFor(uint8_t family, uint8_t protocol, uint32_t states = kEndpointStates) {
  inet_diag_req_v2 request{};
  request.sdiag_family = family;
  request.sdiag_protocol = protocol;
  request.idiag_states = states;
  return request;
}

// Appends the sockets of the family and protocol in these states (bit n: Linux state n).
bool DumpSockets(DiagSocketFd& diag, uint8_t family, uint8_t protocol, uint32_t sequence,
                 std::vector<DiagSocket>& out, uint32_t states = kEndpointStates) {
  if (!diag.send(SOCK_DIAG_BY_FAMILY, NLM_F_DUMP, sequence, RequestFor(family, protocol, states))) {
    return false;
  }
  std::vector<uint8_t> buffer(kReceiveBuffer);
  for (;;) {
    const ssize_t n = diag.receive(buffer);
    if (n <= 0) return false;
    switch (ParseDiagDatagram(buffer.data(), size_t(n), sequence, out, nullptr, family)) {
      case DiagDumpStatus::Done:
        return true;
      case DiagDumpStatus::Failed:
        return false;
      case DiagDumpStatus::More:
        break;
    }
  }
}

// Calls `found` with the inode of every socket among the descriptors of a process, listed in
// the folder `fdPath` under `dirFd`, if they can be read (not for another user's process, or one
// that has just ended).
template <typename Found>
void ForEachSocketOf(int dirFd, const char* fdPath, const Found& found) {
  char link[64];
  const int fdDir = openat(dirFd, fdPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fdDir < 0) return;
  DIR* fds = fdopendir(fdDir);
  if (fds == nullptr) {
    close(fdDir);
    return;
  }
  while (const dirent* fd = readdir(fds)) {
    if (fd->d_name[0] == '.') continue;
    const ssize_t n = readlinkat(fdDir, fd->d_name, link, sizeof link);
    if (n <= 0) continue;
    const std::optional<uint32_t> inode = SocketInodeOfLink(std::string_view(link, size_t(n)));
    if (inode) found(*inode);
  }
  closedir(fds);
}

// Marks the owner of every wanted socket inode: one pass over the descriptors of every process
// this process may look into. Processes come in ascending order, so a socket that several
// processes share (a server and its children) goes to the lowest process id.
void FindSocketOwners(std::unordered_map<uint32_t, uint32_t>& processOfInode,
                      std::vector<uint32_t>& owningProcesses) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return;
  while (const dirent* entry = readdir(proc)) {
    const std::optional<uint32_t> pid = ProcessIdOfName(entry->d_name);
    if (!pid) continue;
    bool owns = false;
    char fdPath[32];
    std::snprintf(fdPath, sizeof fdPath, "%u/fd", *pid);
    ForEachSocketOf(dirfd(proc), fdPath, [&](uint32_t inode) {
      const auto wanted = processOfInode.find(inode);
      if (wanted == processOfInode.end() || wanted->second != 0) return;
      wanted->second = *pid;
      owns = true;
    });
    if (owns) owningProcesses.push_back(*pid);
  }
  closedir(proc);
}

EndpointOwners OwnersOf(const std::vector<DiagSocket>& tcp, const std::vector<DiagSocket>& udp) {
  EndpointOwners owners;
  owners.processOfInode.reserve(tcp.size() + udp.size());
  for (const auto* table : {&tcp, &udp}) {
    for (const DiagSocket& s : *table) {
      if (s.inode != 0) owners.processOfInode.emplace(s.inode, 0);
    }
  }
  std::vector<uint32_t> processes;
  FindSocketOwners(owners.processOfInode, processes);
  std::vector<char> path(PATH_MAX);
  for (const uint32_t pid : processes) {
    char exe[32];
    std::snprintf(exe, sizeof exe, "/proc/%u/exe", pid);
    const ssize_t n = readlink(exe, path.data(), path.size());
    if (n <= 0 || size_t(n) >= path.size()) continue;  // not readable: "System"
    owners.nameOfProcess.emplace(pid, FileNameOfPath(std::string_view(path.data(), size_t(n))));
  }
  return owners;
}

// The TCP and UDP tables of this moment, each with its IPv4 sockets in the kernel's order, then
// its IPv6 ones; false when they cannot be read.
bool DumpEndpoints(std::vector<DiagSocket>& tcp, std::vector<DiagSocket>& udp) {
  DiagSocketFd diag;
  return diag.valid() && DumpSockets(diag, AF_INET, IPPROTO_TCP, 1, tcp) &&
         DumpSockets(diag, AF_INET6, IPPROTO_TCP, 2, tcp) &&
         DumpSockets(diag, AF_INET, IPPROTO_UDP, 3, udp) &&
         DumpSockets(diag, AF_INET6, IPPROTO_UDP, 4, udp);
}

}  // namespace

bool ReadEndpointTables(std::vector<DiagSocket>& tcp, std::vector<DiagSocket>& udp) {
  if (!DumpEndpoints(tcp, udp)) return false;
  SortTableOrder(tcp);
  SortTableOrder(udp);
  return true;
}

EndpointOwners FindEndpointOwners(const std::vector<DiagSocket>& tcp,
                                  const std::vector<DiagSocket>& udp) {
  return OwnersOf(tcp, udp);
}

int DestroyEstablishedConnection(const IpAddress& localAddress, uint16_t localPort,
                                 const IpAddress& remoteAddress, uint16_t remotePort) {
  if (localAddress.family() != remoteAddress.family()) return EINVAL;
  DiagSocketFd diag;
  if (!diag.valid()) return errno;
  // The kernel finds a socket by its addresses and, when no connection matches, falls back to
  // a listener on the local port; and a link-local connection only on the interface it is bound
  // to. So the connection is found first among the established ones, and only that very socket
  // (by its interface and cookie) is destroyed: a connection that has gone never takes its
  // server's listener with it.
  const uint8_t family = localAddress.isIpv4() ? AF_INET : AF_INET6;
  std::vector<DiagSocket> established;
  if (!DumpSockets(diag, family, IPPROTO_TCP, 1, established, 1u << TCP_ESTABLISHED)) return EIO;
  const DiagSocket* found = nullptr;
  for (const DiagSocket& s : established) {
    if (LocalAddressOf(s) != localAddress || s.localPort != localPort ||
        RemoteAddressOf(s) != remoteAddress || s.remotePort != remotePort) {
      continue;
    }
    if (found != nullptr) return ENOENT;  // not one connection
    found = &s;
  }
  if (found == nullptr || found->linuxState != TCP_ESTABLISHED) return ENOENT;

  inet_diag_req_v2 request = RequestFor(family, IPPROTO_TCP);
  request.id.idiag_sport = localPort;
  request.id.idiag_dport = remotePort;
  // An IPv4 address takes the first 4 bytes, the rest stays 0.
  const size_t size = localAddress.isIpv4() ? 4 : 16;
  std::memcpy(request.id.idiag_src, localAddress.bytes().data(), size);
  std::memcpy(request.id.idiag_dst, remoteAddress.bytes().data(), size);
  request.id.idiag_if = found->interfaceIndex;
  request.id.idiag_cookie[0] = found->cookie[0];
  request.id.idiag_cookie[1] = found->cookie[1];
  std::vector<uint8_t> buffer(kReceiveBuffer);
  if (!diag.send(SOCK_DESTROY, NLM_F_ACK, 2, request)) return errno;
  const ssize_t n = diag.receive(buffer);
  if (n <= 0) return EIO;
  const int result = ParseNetlinkAck(buffer.data(), size_t(n), 2);
  return result < 0 ? EIO : result;
}

std::optional<EndpointOwners> ReadEndpointOwners() {
  try {
    std::vector<DiagSocket> tcp;
    std::vector<DiagSocket> udp;
    if (!DumpEndpoints(tcp, udp)) return std::nullopt;
    return OwnersOf(tcp, udp);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

bool OwnsEndpoint(const ProcessHandle& process) {
  if (!process.valid()) return false;
  std::vector<DiagSocket> tcp;
  std::vector<DiagSocket> udp;
  if (!DumpEndpoints(tcp, udp)) return false;
  std::unordered_set<uint32_t> inodes;
  for (const auto* table : {&tcp, &udp}) {
    for (const DiagSocket& s : *table) {
      if (s.inode != 0) inodes.insert(s.inode);
    }
  }
  bool owns = false;
  ForEachSocketOf(process.dir(), "fd", [&](uint32_t inode) { owns = owns || inodes.count(inode); });
  return owns;
}

std::optional<std::string> ServiceNameOfPort(uint16_t port, bool udp) {
  servent entry{};
  servent* result = nullptr;
  char buffer[1024];
  if (getservbyport_r(htons(port), udp ? "udp" : "tcp", &entry, buffer, sizeof buffer, &result) !=
          0 ||
      result == nullptr || result->s_name == nullptr) {
    return std::nullopt;
  }
  return std::string(result->s_name);
}
