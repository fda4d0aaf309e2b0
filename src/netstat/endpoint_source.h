#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "netstat/endpoint_table.h"

// The system's endpoint tables: the kernel's socket-diagnostics dumps (NETLINK_SOCK_DIAG) of
// IPv4 TCP and UDP sockets, with owners found in one pass over /proc/<pid>/fd.

// Builds the snapshot of this moment; null when a table cannot be read. Safe on any thread.
std::shared_ptr<const EndpointSnapshot> BuildEndpointSnapshot();

// Ends an established TCP connection (SOCK_DESTROY): 0 on success, else the errno (EPERM
// without CAP_NET_ADMIN, ENOENT when no such connection exists).
int DestroyTcpConnection(const EndpointRecord& record);

// The service name of a port (host byte order) in the system's services database.
std::optional<std::string> ServiceNameOfPort(uint16_t port, bool udp);
