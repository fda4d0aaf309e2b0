#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "test_util.h"

// The zone the DNS tests are served: every supported type, a name with two addresses, one with
// 60 (too many for a reply over UDP), a name and a string holding bytes no name should (CR LF,
// Latin-1, a zero), a name with two IPv6 addresses, a delegated zone whose server has an IPv6
// address alone (glue), a reverse zone and an IPv6 reverse zone with a PTR record each, and
// nothing else, so an unknown name answers NXDOMAIN with the zone's SOA.
inline constexpr const char* kTestZone = "dns.test";
inline constexpr const char* kReverseZone = "100.51.198.in-addr.arpa";
inline constexpr const char* kIpv6ReverseZone = "8.b.d.0.1.0.0.2.ip6.arpa";

// An authoritative DNS server (NSD) on a loopback address, port 53 (and on [::1]:53 when asked),
// with its configuration and zone files in a directory of its own. Port 53 needs root; without it
// the server does not start.
class TestDnsServer {
 public:
  explicit TestDnsServer(std::string address, bool alsoIpv6Loopback = false);
  ~TestDnsServer();

  // Whether the server started and answers queries (never when something else already held
  // the address's port 53).
  bool ready() const { return ready_; }
  const std::string& address() const { return address_; }
  uint32_t server() const;  // network order

 private:
  std::string address_;
  bool alsoIpv6Loopback_;
  TempDir dir_;
  std::unique_ptr<ChildProcess> nsd_;
  bool ready_ = false;
};

// A UDP socket bound to address:53 (an IPv4 or IPv6 address), or -1 (port 53 needs root; the
// port may be taken).
int BindDnsPort(const char* address);

// A server that takes every query on address:53 and never answers it (nor lets the system
// report the port unreachable). Port 53 needs root; without it `bound()` is false.
class SilentDnsServer {
 public:
  explicit SilentDnsServer(const char* address);
  ~SilentDnsServer();
  SilentDnsServer(const SilentDnsServer&) = delete;
  SilentDnsServer& operator=(const SilentDnsServer&) = delete;
  bool bound() const { return bound_; }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

#define REQUIRE_SILENT_SERVER(server)                                                 \
  if (!IsRoot()) GTEST_SKIP() << "the silent server needs root to listen on port 53"; \
  ASSERT_TRUE((server).bound()) << "the silent server could not bind"

// One server for a whole test program: started before its first test, stopped after its last.
// Register it once at namespace scope:
//   TestDnsServer* const* g_server = ShareDnsServer("127.0.53.x");
// One test program at most asks for [::1] too: the address has no twins to share out.
TestDnsServer* const* ShareDnsServer(const char* address, bool alsoIpv6Loopback = false);

// Skips without root (port 53) and fails when the server did not start.
#define REQUIRE_DNS_SERVER(server)                                                 \
  if (!IsRoot()) GTEST_SKIP() << "the DNS server needs root to listen on port 53"; \
  ASSERT_TRUE((server) && (server)->ready()) << "the DNS server did not start"
