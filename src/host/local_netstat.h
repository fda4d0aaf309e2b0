#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "netstat/endpoint_table.h"

// This computer's Netstat operations as its NetstatService answers them: what only the
// privileged helper may do or see is asked of it first (host/helper_client.h); where it cannot
// answer, this process does it with its own rights (netstat/endpoint_source.h,
// netstat/process_info.h). Safe on any thread; each may wait on the helper.

// The snapshot of this moment; null when a table cannot be read. The owners come from the
// helper, which may look into every process; without it, from the processes of this user.
std::shared_ptr<const EndpointSnapshot> BuildEndpointSnapshot();

// Ends an established TCP connection through the helper: 0 on success, else the errno (EPERM
// without a usable helper, ENOENT when no established connection has these ends).
int DestroyTcpConnection(const EndpointRecord& record);

// Reads the image path or the command line of a process (kSelectImagePath, kSelectCommandLine)
// into `buffer` of `capacity` bytes, as ReadProcessParameterOf does: -1, 0, or the capacity the
// whole text needs.
int ReadProcessParameter(uint32_t processId, int selector, char* buffer, size_t capacity);

// The path of the process's executable exactly as the system names it, or nothing.
std::optional<std::string> ReadExecutablePath(uint32_t processId);

// The resident set size (VmRSS) in bytes; 0 when it cannot be read.
uint64_t GetProcessWorkingSet(uint32_t processId);
