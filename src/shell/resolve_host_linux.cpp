#include <arpa/inet.h>
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

#include "shell/resolve_host.h"

namespace {

std::optional<std::string> NameOfAddress(uint32_t address) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                  NI_NAMEREQD) != 0) {
    return std::nullopt;
  }
  return std::string(host);
}

std::optional<std::string> AddressOfName(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address rather than one per socket type
  addrinfo* list = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
    return std::nullopt;
  }
  std::optional<std::string> first;
  for (const addrinfo* ai = list; ai != nullptr && !first; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET || ai->ai_addrlen < sizeof(sockaddr_in)) continue;
    char text[INET_ADDRSTRLEN];
    const auto* sa = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
    if (inet_ntop(AF_INET, &sa->sin_addr, text, sizeof text)) first = std::string(text);
  }
  freeaddrinfo(list);
  return first;
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
  static const HostLookups lookups{NameOfAddress, AddressOfName};
  return lookups;
}
