#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dns/resolver_config.h"
#include "netinfo/dhcp_lease.h"
#include "netinfo/netinfo_text.h"

// Where the NetInfo module reads the system's network facts. Everything is read afresh at each
// call, in the network namespace of the calling thread.

// The files the facts come from; tests point them at their own.
struct NetInfoSources {
  std::string resolverConfig = kResolverConfigPath;
  // Lease files of dhclient, NetworkManager and systemd-networkd.
  std::vector<std::string> leaseDirectories = {
      "/var/lib/dhcp", "/var/lib/dhclient", "/var/lib/NetworkManager", "/run/systemd/netif/leases"};
  // The interfaces' directories (sysfs shows those of the namespace it was mounted in).
  std::string interfaceDirectory = "/sys/class/net";
};

// The host name, the domain of the resolver configuration and whether IPv4 forwarding is on.
NetworkParams ReadNetworkParams(const std::string& resolverConfig);

// Every adapter but loopback, in interface-index order, from the kernel's link, address and
// route tables; nullopt when they cannot be read.
std::optional<std::vector<AdapterRecord>> ReadAdapters();

// The lease of the adapter's DHCP facts out of the lease files in the directories, if any.
std::optional<DhcpLease> FindDhcpLease(const AdapterRecord& adapter,
                                       const std::vector<std::string>& directories);

// The helper's operation behind NetInfoService::flushNeighbours (CAP_NET_ADMIN): deletes the
// dynamic IPv4 neighbour entries of the interface; 0, or the errno (ENODEV for an interface that
// does not exist, EPERM without the capability).
int FlushDynamicNeighbours(int index);

// Reads an interface's statistics from its files in the interface directory. The files are
// opened once, at the first reading for an interface (and only if the directory's interface of
// that name has that index), and stay open, so a reading costs one read call per file.
class InterfaceStatsReader {
 public:
  explicit InterfaceStatsReader(std::string interfaceDirectory);
  ~InterfaceStatsReader();
  InterfaceStatsReader(const InterfaceStatsReader&) = delete;
  InterfaceStatsReader& operator=(const InterfaceStatsReader&) = delete;

  // False when the interface cannot be read (gone, or not in this directory); the files are
  // then closed and the next reading tries to open them again.
  bool read(int index, const std::string& name, InterfaceStatistics& statistics);
  void close();

 private:
  enum File { kOperState, kSpeed, kReceived, kSent, kFlags, kFileCount };
  bool open(int index, const std::string& name);

  std::string directory_;
  int index_ = 0;  // of the open files, 0 when none are open
  int files_[kFileCount] = {-1, -1, -1, -1, -1};
};
