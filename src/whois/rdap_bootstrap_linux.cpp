#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "whois/rdap_bootstrap_store.h"
#include "whois/rdap_exchange.h"

namespace {

// A refresh gives up quickly: no machine may wait long on a lookup for it.
constexpr long kRefreshConnectMs = 3000;
constexpr long kRefreshTotalMs = 10000;

// Seconds since the file was last written; nothing when it does not exist.
std::optional<long long> AgeOf(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<long long>(std::time(nullptr)) - static_cast<long long>(st.st_mtime);
}

std::optional<RdapBootstrap> ReadBootstrap(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return std::nullopt;
  const std::streamoff size = in.tellg();
  if (size < 0 || size_t(size) > kRdapBootstrapLimit) return std::nullopt;
  std::string text(size_t(size), '\0');
  in.seekg(0);
  in.read(text.data(), size);
  if (in.gcount() != size) return std::nullopt;
  return ParseRdapBootstrap(text);
}

// Makes the folders of `path` (mode 0700, as a cache folder is); false when one cannot be had.
bool MakeFoldersOf(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Writes the whole file beside the cache, then puts it in place, so a reader never sees half.
bool ReplaceFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += size_t(n);
  }
  const bool complete = written == text.size() && fsync(fd) == 0;
  close(fd);
  if (complete && rename(temporary.c_str(), path.c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}

// One try at fetching IANA's current file into the cache. The try itself is recorded, so a
// machine that cannot reach IANA tries once a day, not on every lookup.
void RefreshCache(const RdapBootstrapPlaces& places, const RunToken& token) {
  const std::string tried = places.cacheFile + ".tried";
  if (!MakeFoldersOf(places.cacheFile)) return;
  const int stamp = open(tried.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (stamp < 0) return;
  close(stamp);

  RdapExchangeLimits limits;
  limits.answerLimit = kRdapBootstrapLimit;
  limits.connectTimeoutMs = kRefreshConnectMs;
  limits.totalTimeoutMs = kRefreshTotalMs;
  const RdapReply reply = ExchangeRdap(places.refreshUrl, token, limits);
  if (reply.transport != RdapTransport::Ok || reply.httpStatus != 200) return;
  if (!ParseRdapBootstrap(reply.body)) return;
  ReplaceFile(places.cacheFile, reply.body);
}

std::string ProgramFolder() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  std::string folder(self, size_t(n));
  folder.resize(folder.rfind('/') + 1);
  return folder;
}

}  // namespace

RdapBootstrapPlaces DefaultRdapBootstrapPlaces() {
  RdapBootstrapPlaces places;
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  if (cache != nullptr && cache[0] == '/') {
    places.cacheFile = std::string(cache) + "/pelorin/rdap-dns.json";
  } else if (home != nullptr && home[0] == '/') {
    places.cacheFile = std::string(home) + "/.cache/pelorin/rdap-dns.json";
  }
  const std::string folder = ProgramFolder();
  if (!folder.empty()) {
    // Beside the program in the build tree, else where the window or the agent is installed.
    places.shippedFile = folder + PELORIN_DATA_FROM_BINDIR "/rdap/dns.json";
    for (const std::string& candidate :
         {folder + "rdap/dns.json", folder + PELORIN_DATA_FROM_LIBEXECDIR "/rdap/dns.json"}) {
      if (access(candidate.c_str(), R_OK) == 0) {
        places.shippedFile = candidate;
        break;
      }
    }
  }
  return places;
}

std::optional<RdapBootstrap> LoadRdapBootstrap(const RdapBootstrapPlaces& places,
                                               const RunToken& token) {
  if (!places.cacheFile.empty() &&
      RdapBootstrapRefreshDue(AgeOf(places.cacheFile), AgeOf(places.cacheFile + ".tried"))) {
    RefreshCache(places, token);
  }
  const std::optional<RdapBootstrap> cache = ReadBootstrap(places.cacheFile);
  const std::optional<RdapBootstrap> shipped = ReadBootstrap(places.shippedFile);
  const RdapBootstrap* chosen =
      NewerBootstrap(cache ? &*cache : nullptr, shipped ? &*shipped : nullptr);
  if (chosen == nullptr) return std::nullopt;
  return *chosen;
}
