#pragma once

#include <cstdint>
#include <string>

#include "base/ip_address.h"

// A chain of network namespaces for the echo and trace tests and the trace benchmark:
//
//   client 198.18.1.2 -- .1.1 r1 .2.1 -- .2.2 r2 .3.1 -- .3.2 r3 .4.1 -- .4.2 target
//
// joined by veth pairs, the routers forwarding with no limit on their ICMP reports; r1 answers
// echoes to the client link's broadcast address 198.18.1.255 and to the all-hosts group
// 224.0.0.1, which the client sends on that link. r3 also drops 198.18.99.0/24 silently,
// reports 198.18.98.0/24 as host unreachable and has no route to 198.18.97.0/24 (network
// unreachable); the client's own table refuses 198.18.96.0/24.
// The same path carries IPv6, link n being 2001:2:0:n::/64 (client 2001:2:0:1::2 ... target
// 2001:2:0:4::2), with the same special destinations in 2001:2:0:99::/64 (silent),
// 2001:2:0:98::/64 (prohibited at r3: reported as unreachable), 2001:2:0:97::/64 (no route at r3)
// and 2001:2:0:96::/64 (refused by the client's own table). The client's link also carries
// 2001:2:1::/64: the client 2001:2:1::2, r1 2001:2:1::1. Namespaces are named
// "pelorin-ping-<pid>-<n>-<role>" and all removed when the object goes. Needs root.
class NetLab {
 public:
  enum Role { kClient, kRouter1, kRouter2, kRouter3, kTarget, kRoleCount };

  NetLab();
  ~NetLab();
  NetLab(const NetLab&) = delete;
  NetLab& operator=(const NetLab&) = delete;

  // Whether every namespace, link and route is in place; error() says what failed.
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  std::string name(Role role) const;

  // Router 1..3 keeps forwarding but sends no ICMP reports to the client any more.
  bool silenceRouter(int router);
  // Lets the group `gid` open ICMP datagram sockets in the client namespace.
  bool allowDatagramPing(int gid);

 private:
  bool run(const std::string& script);

  std::string prefix_;
  bool ok_ = false;
  std::string error_;
};

// Addresses of the lab.
inline constexpr const char* kLabRouter1 = "198.18.1.1";
inline constexpr const char* kLabClientIpv6 = "2001:2:1::2";
inline constexpr const char* kLabRouter1Ipv6 = "2001:2:1::1";
inline constexpr const char* kLabRouter2 = "198.18.2.2";
inline constexpr const char* kLabRouter3 = "198.18.3.2";
inline constexpr const char* kLabTarget = "198.18.4.2";
inline constexpr const char* kLabClientBroadcast = "198.18.1.255";
inline constexpr const char* kLabAllHosts = "224.0.0.1";
inline constexpr const char* kLabSilent = "198.18.99.1";
inline constexpr const char* kLabHostUnreachable = "198.18.98.1";
inline constexpr const char* kLabNetUnreachable = "198.18.97.1";
inline constexpr const char* kLabLocallyUnreachable = "198.18.96.1";
inline constexpr const char* kLab6Router1 = "2001:2:0:1::1";
inline constexpr const char* kLab6Router2 = "2001:2:0:2::2";
inline constexpr const char* kLab6Router3 = "2001:2:0:3::2";
inline constexpr const char* kLab6Target = "2001:2:0:4::2";
inline constexpr const char* kLab6Silent = "2001:2:0:99::1";
inline constexpr const char* kLab6HostUnreachable = "2001:2:0:98::1";
inline constexpr const char* kLab6NetUnreachable = "2001:2:0:97::1";
inline constexpr const char* kLab6LocallyUnreachable = "2001:2:0:96::1";

// Runs a shell script (sh -e) from a file of its own, so it may feed commands with
// here-documents, collecting what it prints; true when every command succeeded.
bool RunLabScript(const std::string& script, std::string* output);

// Removes the namespaces "<prefix><pid>..." of test processes that died before they could.
void RemoveStaleNamespaces(const std::string& prefix);

// An IPv4 text in network byte order.
uint32_t LabAddress(const char* dotted);
// An IPv6 text.
IpAddress Lab6Address(const char* text);

// Puts the calling thread into a network namespace until the object goes. Threads it starts
// meanwhile (a pane's worker) are born there too.
class NetnsScope {
 public:
  explicit NetnsScope(const std::string& name);
  ~NetnsScope();
  NetnsScope(const NetnsScope&) = delete;
  NetnsScope& operator=(const NetnsScope&) = delete;
  bool entered() const { return entered_; }

 private:
  int home_ = -1;
  bool entered_ = false;
};
