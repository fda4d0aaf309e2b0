#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "netstat/endpoint_table.h"
#include "netstat/process_info.h"

// The system's endpoint tables: the kernel's socket-diagnostics dumps (NETLINK_SOCK_DIAG) of
// IPv4 and IPv6 TCP and UDP sockets, with owners found in one pass over /proc/<pid>/fd.

// Builds the snapshot of this moment; null when a table cannot be read. Safe on any thread. The
// owners come from the privileged helper, which may look into every process; without it, from
// the processes of this user.
std::shared_ptr<const EndpointSnapshot> BuildEndpointSnapshot();

// Ends an established TCP connection through the helper: 0 on success, else the errno (EPERM
// without a usable helper, ENOENT when no established connection has these ends).
int DestroyTcpConnection(const EndpointRecord& record);

// What the helper does for the two above, with its capabilities raised.
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
