#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "sys/resolve_host.h"
#include "sys/socket_address.h"

namespace {

std::optional<std::string> NameOf(const SocketAddress& sa) {
  char host[NI_MAXHOST];
  if (getnameinfo(sa.get(), sa.length, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0) {
    return std::nullopt;
  }
  return std::string(host);
}

std::optional<std::string> NameOfAddress(uint32_t address) {
  return NameOf(MakeSocketAddress(IpAddress::Ipv4(address), 0));
}

std::optional<std::string> NameOfIpv6Address(const IpAddress& address) {
  return NameOf(MakeSocketAddress(address, 0));
}

// One lookup of both families: the first IPv4 address in the resolver's order, else the first
// IPv6 one, so a name keeps the address it had before IPv6 was asked for. (Asked for IPv4 alone,
// the resolver would turn a hosts file's ::1 into 127.0.0.1.)
std::optional<std::string> AddressOfName(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address rather than one per socket type
  addrinfo* list = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
    return std::nullopt;
  }
  std::optional<IpAddress> ipv4, ipv6;
  for (const addrinfo* ai = list; ai != nullptr && !ipv4; ai = ai->ai_next) {
    sockaddr_storage storage{};
    if (ai->ai_addrlen > sizeof storage) continue;
    std::memcpy(&storage, ai->ai_addr, ai->ai_addrlen);
    const std::optional<AddressAndPort> found = ReadSocketAddress(storage, ai->ai_addrlen);
    if (!found) continue;
    if (found->address.isIpv4()) {
      ipv4 = found->address;
    } else if (!ipv6) {
      ipv6 = found->address;
    }
  }
  freeaddrinfo(list);
  if (ipv4) return ipv4->text();
  if (ipv6) return ipv6->text();
  return std::nullopt;
}

// One lookup on a thread of its own. The thread and the waiting caller share it, so whichever
// ends last frees it.
struct BackgroundLookup {
  explicit BackgroundLookup(const char* text, size_t capacity)
      : name(text), result(capacity), doneFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~BackgroundLookup() {
    if (doneFd >= 0) close(doneFd);
  }
  BackgroundLookup(const BackgroundLookup&) = delete;
  BackgroundLookup& operator=(const BackgroundLookup&) = delete;

  void run() {
    const int resolved = ResolveHost(name.c_str(), result.data(), result.size());
    found.store(resolved, std::memory_order_release);  // publishes `result` too
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(doneFd, &one, sizeof one);
  }

  const std::string name;
  std::vector<char> result;
  std::atomic<int> found{-1};
  const int doneFd;  // readable once the lookup is over
};

// Waits for the lookup or the stop: true when the lookup is over, false on the stop (or when
// the wait itself fails).
bool AwaitLookup(const BackgroundLookup& lookup, int stopFd) {
  pollfd fds[2] = {{lookup.doneFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
  for (;;) {
    const int ready = poll(fds, stopFd >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return false;
    if (fds[0].revents != 0) return true;
    if (fds[1].revents != 0) return false;
  }
}

}  // namespace

int ResolveHostUnlessStopped(const char* name, char* destination, size_t capacity, int stopFd) {
  if (name == nullptr || destination == nullptr || capacity == 0) return 0;
  auto lookup = std::make_shared<BackgroundLookup>(name, capacity);
  if (lookup->doneFd < 0) return ResolveHost(name, destination, capacity);
  try {
    std::thread([lookup] { lookup->run(); }).detach();
  } catch (const std::system_error&) {
    return ResolveHost(name, destination, capacity);
  }
  if (!AwaitLookup(*lookup, stopFd)) return -1;
  const int found = lookup->found.load(std::memory_order_acquire);
  if (found == 1) std::memcpy(destination, lookup->result.data(), capacity);
  return found;
}

const HostLookups& SystemHostLookups() {
  static const HostLookups lookups{NameOfAddress, AddressOfName, NameOfIpv6Address};
  return lookups;
}
