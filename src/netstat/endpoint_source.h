#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "netstat/endpoint_table.h"
#include "netstat/process_info.h"

// The system's endpoint tables: the kernel's socket-diagnostics dumps (NETLINK_SOCK_DIAG) of
// IPv4 and IPv6 TCP and UDP sockets, with owners found in one pass over /proc/<pid>/fd.

// The TCP and UDP tables of this moment, each with its IPv4 sockets, then its IPv6 ones, in
// table order (SortTableOrder); false when they cannot be read. Safe on any thread.
bool ReadEndpointTables(std::vector<DiagSocket>& tcp, std::vector<DiagSocket>& udp);
// The owners of the tables' sockets in the processes this process may look into (this user's,
// or every process's with the privileges): one pass over /proc/<pid>/fd.
EndpointOwners FindEndpointOwners(const std::vector<DiagSocket>& tcp,
                                  const std::vector<DiagSocket>& udp);

// What the helper does for this computer's Netstat service (host/local_netstat.h), with its
// capabilities raised.
//
// Finds the connection with these ends (ports in network byte order; both addresses of one
// family) itself and destroys that very socket (SOCK_DESTROY, CAP_NET_ADMIN) when it is the one
// match and established; a listener is never destroyed. 0, ENOENT, or the system's errno.
int DestroyEstablishedConnection(const IpAddress& localAddress, uint16_t localPort,
                                 const IpAddress& remoteAddress, uint16_t remotePort);
// The owners of the TCP and UDP sockets of this moment, in the processes this process may look
// into; nothing when the tables cannot be read.
std::optional<EndpointOwners> ReadEndpointOwners();
// Whether the process holds a TCP or UDP socket now.
bool OwnsEndpoint(const ProcessHandle& process);

// The service name of a port (host byte order) in the system's services database.
std::optional<std::string> ServiceNameOfPort(uint16_t port, bool udp);
