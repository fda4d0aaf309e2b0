#pragma once

#include <optional>
#include <string>
#include <vector>

#include "netinfo/dhcp_lease.h"
#include "netinfo/netinfo_text.h"
#include "sys/name_service.h"
#include "sys/run_token.h"

// What the NetInfo pane asks of the host it inspects. Every fact is read afresh at each call.
class NetInfoService : public NameService {
 public:
  // The host name, the domain of the resolver configuration and whether IPv4 forwarding is on.
  virtual NetworkParams networkParams() = 0;

  // Every adapter but loopback, in interface-index order, from the kernel's link, address and
  // route tables; nullopt when they cannot be read.
  virtual std::optional<std::vector<AdapterRecord>> adapters() = 0;

  // The name servers of the resolver configuration as their texts, in file order, whatever
  // their family; nullopt when the configuration cannot be read.
  virtual std::optional<std::vector<std::string>> dnsServers() = 0;

  // The lease that gives the adapter's DHCP facts out of the host's lease files, if any (of the
  // adapter, its index, name and IPv4 addresses count).
  virtual std::optional<DhcpLease> dhcpLease(const AdapterRecord& adapter) = 0;

  // One reading of an interface's statistics; nullopt when it cannot be read (gone). The host
  // keeps what the readings of one interface need open from one reading to the next, until
  // endStatistics() or a reading of another interface.
  virtual std::optional<InterfaceStatistics> statistics(int index, const std::string& name) = 0;
  virtual void endStatistics() = 0;

  // Deletes the dynamic IPv4 neighbour (ARP) entries of the interface through the privileged
  // helper, as `ip neigh flush dev` does: the administrator's PERMANENT and NOARP entries stay.
  // 0, or the errno: EPERM without a usable helper, ENODEV when the interface does not exist,
  // another when the table cannot be read or an entry cannot be deleted.
  virtual int flushNeighbours(int index) = 0;
};
