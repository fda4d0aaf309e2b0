#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "netinfo/netinfo_system.h"
#include "netinfo/rtnetlink_dump.h"
#include "sys/rtnl_socket.h"

namespace {

// Entries looked at per lease directory, and bytes read of all lease files for one adapter: far
// more than real systems keep, and little enough that showing an adapter stays quick.
constexpr int kMaxLeaseFiles = 512;
constexpr size_t kLeaseBytesBudget = 4 * kLeaseFileMaxBytes;

bool HasNetAdmin() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_NET_ADMIN / 32].effective & (1u << (CAP_NET_ADMIN % 32))) != 0;
}

// At most `limit` bytes of a file from its start (or, with `tail`, from its end).
bool ReadFileBytes(int fd, size_t limit, bool tail, std::string& text) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const size_t size = size_t(info.st_size);
  const size_t wanted = std::min(limit, size);
  const off_t offset = tail ? off_t(size - wanted) : 0;
  text.assign(wanted, '\0');
  size_t got = 0;
  while (got < wanted) {
    const ssize_t n = pread(fd, text.data() + got, wanted - got, offset + off_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += size_t(n);
  }
  text.resize(got);
  return true;
}

// A small file's text, as /proc and sysfs show their values.
std::string ReadSmallFile(const std::string& path) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[256];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) text.assign(buffer, size_t(n));
  ::close(fd);
  return text;
}

bool IsLeaseFileName(std::string_view name) {
  const auto endsWith = [&](std::string_view tail) {
    return name.size() > tail.size() && name.substr(name.size() - tail.size()) == tail;
  };
  if (endsWith(".lease") || endsWith(".leases")) return true;
  return !name.empty() && name.find_first_not_of("0123456789") == std::string_view::npos;
}

void ConsiderLeaseDirectory(const std::string& directory, LeaseChoice& choice, size_t& budget) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return;
  int seen = 0;
  while (const dirent* entry = readdir(dir)) {
    if (++seen > kMaxLeaseFiles || budget == 0) break;
    const std::string_view name = entry->d_name;
    if (!IsLeaseFileName(name)) continue;
    const int fd =
        openat(dirfd(dir), entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    std::string text;
    struct stat info {};
    if (fstat(fd, &info) == 0 &&
        ReadFileBytes(fd, std::min(kLeaseFileMaxBytes, budget), true, text)) {
      budget -= text.size();
      choice.considerFile(name, text, int64_t(info.st_mtime));
    }
    ::close(fd);
  }
  closedir(dir);
}

}  // namespace

NetworkParams ReadNetworkParams(const std::string& resolverConfig) {
  NetworkParams params;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) params.hostName = host;
  if (const std::optional<ResolverConfig> config = ReadResolverConfig(resolverConfig)) {
    params.domain = config->domain;
  }
  // Read through the calling thread's view, which follows its network namespace.
  const std::string forwarding = ReadSmallFile("/proc/sys/net/ipv4/ip_forward");
  params.routing = !forwarding.empty() && forwarding[0] != '0';
  return params;
}

std::optional<std::vector<AdapterRecord>> ReadAdapters() {
  RtnlSocket socket;
  if (!socket.ok()) return std::nullopt;
  AdapterDump dump;
  const auto take = [&dump](const uint8_t* data, size_t size) { return dump.add(data, size); };
  ifinfomsg links{};
  links.ifi_family = AF_UNSPEC;
  ifaddrmsg addresses{};  // both families
  addresses.ifa_family = AF_UNSPEC;
  rtmsg routes{};
  routes.rtm_family = AF_UNSPEC;
  if (!socket.dump(RTM_GETLINK, links, take) || !socket.dump(RTM_GETADDR, addresses, take) ||
      !socket.dump(RTM_GETROUTE, routes, take)) {
    return std::nullopt;
  }
  return dump.adapters();
}

std::optional<DhcpLease> FindDhcpLease(const AdapterRecord& adapter,
                                       const std::vector<std::string>& directories) {
  LeaseChoice choice(adapter.name, adapter.index, adapter.addresses);
  size_t budget = kLeaseBytesBudget;
  for (const std::string& directory : directories) {
    ConsiderLeaseDirectory(directory, choice, budget);
  }
  return choice.best();
}

int FlushDynamicNeighbours(int index) {
  // The kernel would refuse each delete; without entries there would be nothing to refuse.
  if (!HasNetAdmin()) return EPERM;
  // An adapter gone since it was listed has no table to flush: no success to report.
  char name[IF_NAMESIZE];
  if (index <= 0 || if_indextoname(unsigned(index), name) == nullptr) return ENODEV;
  RtnlSocket socket;
  if (!socket.ok()) return errno;
  std::vector<uint32_t> entries;
  ndmsg request{};
  request.ndm_family = AF_INET;
  const auto take = [&](const uint8_t* data, size_t size) {
    return AddNeighbours(data, size, index, entries);
  };
  if (!socket.dump(RTM_GETNEIGH, request, take)) return EIO;

  request.ndm_ifindex = index;
  std::vector<uint8_t> reply;
  for (const uint32_t destination : entries) {
    uint8_t attribute[RTA_LENGTH(4)];
    const rtattr header{uint16_t(RTA_LENGTH(4)), NDA_DST};
    std::memcpy(attribute, &header, sizeof header);
    std::memcpy(attribute + RTA_LENGTH(0), &destination, 4);
    size_t size = 0;
    if (!socket.send(RTM_DELNEIGH, NLM_F_ACK, request, attribute, sizeof attribute) ||
        !socket.receive(reply, size)) {
      return EIO;
    }
    // An entry that went by itself meanwhile is as good as deleted.
    const int error = AckError(reply.data(), size);
    if (error != 0 && error != -ENOENT) return error < 0 && error > -4096 ? -error : EIO;
  }
  return 0;
}

InterfaceStatsReader::InterfaceStatsReader(std::string interfaceDirectory)
    : directory_(std::move(interfaceDirectory)) {}

InterfaceStatsReader::~InterfaceStatsReader() {
  close();
}

void InterfaceStatsReader::close() {
  for (int& fd : files_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  index_ = 0;
}

bool InterfaceStatsReader::open(int index, const std::string& name) {
  close();
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    return false;
  }
  const std::string base = directory_ + "/" + name + "/";
  if (ParseSysfsCount(ReadSmallFile(base + "ifindex")) != uint64_t(index)) return false;
  static constexpr const char* kNames[kFileCount] = {"operstate", "speed", "statistics/rx_bytes",
                                                     "statistics/tx_bytes", "flags"};
  for (int i = 0; i < kFileCount; ++i) {
    files_[i] = ::open((base + kNames[i]).c_str(), O_RDONLY | O_CLOEXEC);
    if (files_[i] < 0 && i != kSpeed) {
      close();
      return false;
    }
  }
  index_ = index;
  return true;
}

namespace {

// The file's current value: sysfs makes it afresh at every read from the start.
std::string_view ReadValue(int fd, char (&buffer)[64]) {
  if (fd < 0) return {};
  const ssize_t n = pread(fd, buffer, sizeof buffer, 0);
  return n > 0 ? std::string_view(buffer, size_t(n)) : std::string_view();
}

}  // namespace

bool InterfaceStatsReader::read(int index, const std::string& name,
                                InterfaceStatistics& statistics) {
  if (index_ != index && !open(index, name)) return false;
  char buffer[64];
  std::string_view operstate = ReadValue(files_[kOperState], buffer);
  if (operstate.empty()) {
    close();
    return false;
  }
  if (operstate.back() == '\n') operstate.remove_suffix(1);
  bool adminUp = true;
  if (operstate == "down") {
    // Only here does it matter whether the interface is switched on.
    char flags[64];
    const std::string_view text = ReadValue(files_[kFlags], flags);
    adminUp = (std::strtoul(std::string(text).c_str(), nullptr, 16) & IFF_UP) != 0;
  }
  InterfaceStatistics reading;
  reading.status = OperStatusOf(operstate, adminUp);
  // Unknown (-1) or not known at all (an error, as for virtual adapters): 0.
  reading.speedMbits = ParseSysfsCount(ReadValue(files_[kSpeed], buffer)).value_or(0);
  const std::optional<uint64_t> received = ParseSysfsCount(ReadValue(files_[kReceived], buffer));
  const std::optional<uint64_t> sent = ParseSysfsCount(ReadValue(files_[kSent], buffer));
  if (!received || !sent) {
    close();
    return false;
  }
  reading.receivedBytes = *received;
  reading.sentBytes = *sent;
  statistics = reading;
  return true;
}
