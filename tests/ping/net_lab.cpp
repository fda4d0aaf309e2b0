#include "net_lab.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kNamePrefix = "pelorin-ping-";
constexpr const char* kRoleNames[] = {"client", "r1", "r2", "r3", "target"};

}  // namespace

bool RunLabScript(const std::string& script, std::string* output) {
  char path[] = "/tmp/pelorin-ping-lab-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return false;
  const bool written = write(fd, script.data(), script.size()) == ssize_t(script.size());
  close(fd);
  bool ok = false;
  if (written) {
    if (FILE* pipe = popen(("sh -e " + std::string(path) + " 2>&1 </dev/null").c_str(), "r")) {
      char buffer[1024];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
      ok = pclose(pipe) == 0;
    }
  }
  unlink(path);
  return ok;
}

void RemoveStaleNamespaces(const std::string& prefix) {
  DIR* dir = opendir("/run/netns");
  if (dir == nullptr) return;
  std::string script;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind(prefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      script += "ip netns del " + name + " || true\n";
    }
  }
  closedir(dir);
  std::string ignored;
  if (!script.empty()) RunLabScript(script, &ignored);
}

NetLab::NetLab() {
  static std::atomic<int> labs{0};
  RemoveStaleNamespaces(kNamePrefix);
  prefix_ =
      std::string(kNamePrefix) + std::to_string(getpid()) + "-" + std::to_string(++labs) + "-";
  const std::string c = name(kClient), r1 = name(kRouter1), r2 = name(kRouter2),
                    r3 = name(kRouter3), t = name(kTarget);
  const std::string chain[] = {c, r1, r2, r3, t};
  // Few processes: one batch for the namespaces and links, one per namespace for the rest.
  std::string namespaces, links;
  for (const std::string& n : chain) namespaces += "netns add " + n + "\n";
  for (int i = 0; i < 4; ++i) {  // each link: e1 on the client's side, e0 on the target's
    links +=
        "link add e1 netns " + chain[i] + " type veth peer name e0 netns " + chain[i + 1] + "\n";
  }
  // IPv6 addresses are usable at once only without duplicate-address detection, which a link
  // takes from its namespace's defaults when it comes.
  std::string script = "ip -batch - <<'END'\n" + namespaces + "END\n";
  for (const std::string& n : chain) {
    script += "ip netns exec " + n + " sysctl -qw net.ipv6.conf.default.accept_dad=0\n";
  }
  script += "ip -batch - <<'END'\n" + links + "END\n";
  const std::string inside[] = {
      // client
      "addr add 198.18.1.2/24 brd + dev e1\naddr add 2001:2:1::2/64 dev e1 nodad\n"
      "link set e1 up\n"
      "route add 198.18.0.0/16 via 198.18.1.1\nroute add unreachable 198.18.96.0/24\n"
      "route add 224.0.0.0/4 dev e1\n"
      "addr add 2001:2:0:1::2/64 dev e1\nroute add 2001:2::/48 via 2001:2:0:1::1\n"
      "route add unreachable 2001:2:0:96::/64\n",
      // r1
      "addr add 198.18.1.1/24 brd + dev e0\naddr add 2001:2:1::1/64 dev e0 nodad\n"
      "addr add 198.18.2.1/24 dev e1\n"
      "link set e0 up\nlink set e1 up\nroute add 198.18.0.0/16 via 198.18.2.2\n"
      "addr add 2001:2:0:1::1/64 dev e0\naddr add 2001:2:0:2::1/64 dev e1\n"
      "route add 2001:2::/48 via 2001:2:0:2::2\n",
      // r2
      "addr add 198.18.2.2/24 dev e0\naddr add 198.18.3.1/24 dev e1\n"
      "link set e0 up\nlink set e1 up\nroute add 198.18.0.0/16 via 198.18.3.2\n"
      "route add 198.18.1.0/24 via 198.18.2.1\n"
      "addr add 2001:2:0:2::2/64 dev e0\naddr add 2001:2:0:3::1/64 dev e1\n"
      "route add 2001:2::/48 via 2001:2:0:3::2\nroute add 2001:2:0:1::/64 via 2001:2:0:2::1\n",
      // r3
      "addr add 198.18.3.2/24 dev e0\naddr add 198.18.4.1/24 dev e1\n"
      "link set e0 up\nlink set e1 up\nroute add 198.18.1.0/24 via 198.18.3.1\n"
      "route add 198.18.2.0/24 via 198.18.3.1\nroute add blackhole 198.18.99.0/24\n"
      "route add unreachable 198.18.98.0/24\n"
      "addr add 2001:2:0:3::2/64 dev e0\naddr add 2001:2:0:4::1/64 dev e1\n"
      "route add 2001:2:0:1::/64 via 2001:2:0:3::1\nroute add 2001:2:0:2::/64 via 2001:2:0:3::1\n"
      "route add blackhole 2001:2:0:99::/64\nroute add prohibit 2001:2:0:98::/64\n",
      // target
      "addr add 198.18.4.2/24 dev e0\nlink set e0 up\nroute add 198.18.0.0/16 via 198.18.4.1\n"
      "addr add 2001:2:0:4::2/64 dev e0\nroute add 2001:2::/48 via 2001:2:0:4::1\n",
  };
  for (int role = 0; role < kRoleCount; ++role) {
    script +=
        "ip -n " + chain[role] + " -batch - <<'END'\nlink set lo up\n" + inside[role] + "END\n";
  }
  // Routers forward; no ICMP type is rate-limited, so repeated traces get every report. (The
  // per-peer limit is left alone: setting it to 0 would also starve the route-error reports.)
  for (const std::string& n : {r1, r2, r3, t}) {
    script += "ip netns exec " + n +
              " sysctl -qw net.ipv4.icmp_ratemask=0 net.ipv6.icmp.ratelimit=0" +
              (n == t ? "" : " net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1") + "\n";
  }
  // r1 answers echoes sent to its link's broadcast address and to a multicast group.
  script += "ip netns exec " + r1 + " sysctl -qw net.ipv4.icmp_echo_ignore_broadcasts=0\n";
  ok_ = run(script);
}

NetLab::~NetLab() {
  std::string script;
  for (int role = 0; role < kRoleCount; ++role) {
    script += "ip netns del " + name(Role(role)) + " 2>/dev/null || true\n";
  }
  std::string ignored;
  RunLabScript(script, &ignored);
}

std::string NetLab::name(Role role) const {
  return prefix_ + kRoleNames[role];
}

bool NetLab::silenceRouter(int router) {
  if (router < 1 || router > 3) return false;
  // The router's own packets to the client (iif lo) meet a blackhole; what it forwards does not.
  const std::string r = name(Role(router));
  return run("ip -n " + r + " rule add iif lo to 198.18.1.0/24 table 100 pref 100\n" + "ip -n " +
             r + " route add blackhole 198.18.1.0/24 table 100\n" + "ip -n " + r +
             " -6 rule add iif lo to 2001:2:0:1::/64 table 100 pref 100\n" + "ip -n " + r +
             " -6 route add blackhole 2001:2:0:1::/64 table 100\n");
}

bool NetLab::allowDatagramPing(int gid) {
  const std::string range = std::to_string(gid) + " " + std::to_string(gid);
  return run("ip netns exec " + name(kClient) + " sysctl -qw net.ipv4.ping_group_range='" + range +
             "'\n");
}

bool NetLab::run(const std::string& script) {
  std::string output;
  if (RunLabScript(script, &output)) return true;
  error_ += output;
  return false;
}

uint32_t LabAddress(const char* dotted) {
  in_addr address{};
  inet_aton(dotted, &address);
  return address.s_addr;
}

IpAddress Lab6Address(const char* text) {
  return ParseIpv6Address(text).value_or(IpAddress());
}

NetnsScope::NetnsScope(const std::string& name) {
  home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int target = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  if (home_ >= 0 && target >= 0) entered_ = setns(target, CLONE_NEWNET) == 0;
  if (target >= 0) close(target);
}

NetnsScope::~NetnsScope() {
  if (home_ < 0) return;
  if (entered_ && setns(home_, CLONE_NEWNET) != 0) std::abort();  // never run on elsewhere
  close(home_);
}
