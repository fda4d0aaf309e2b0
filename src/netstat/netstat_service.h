#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "netstat/endpoint_table.h"
#include "netstat/process_info.h"
#include "sys/name_service.h"
#include "sys/run_token.h"

// What the Netstat pane asks of the host it inspects: its endpoints with their owners, facts
// about the owners, and the two commands that end a connection or a process. Every call may wait
// (on the system, the helper or an agent), so the pane makes them off the UI thread.

// The image path or the command line of a process as ReadProcessParameter gives it: `result` is
// -1 when it cannot be read, 0 when the whole text fitted the capacity asked for, else the
// capacity the whole text needs; `text` is what fitted (at most capacity - 1 bytes).
struct ProcessText {
  int result = -1;
  std::string text;
};

class NetstatService : public NameService {
 public:
  // The TCP and UDP endpoints of this moment with their owners (BuildEndpointSnapshot); null
  // when a table cannot be read, or when `token` was cancelled first.
  virtual std::shared_ptr<const EndpointSnapshot> endpoints(const RunToken* token) = 0;
  // Ends the established TCP connection with the record's ends: 0, or the errno (EPERM without
  // a usable helper, ENOENT when no established connection has these ends). May take as long as
  // the helper's answer does.
  virtual int killConnection(const EndpointRecord& record) = 0;
  // Ends the process with SIGKILL (TerminateProcessById).
  virtual TerminateResult terminateProcess(uint32_t processId) = 0;
  // The process's executable file as the host's file system describes it; nothing when its path
  // cannot be read or names no file.
  virtual std::optional<ExecutableFile> executableFile(uint32_t processId) = 0;
  // The image path (`imagePath`) or the command line, read with `capacity` bytes.
  virtual ProcessText processText(uint32_t processId, bool imagePath, size_t capacity) = 0;
  // The resident set size in bytes; 0 when it cannot be read.
  virtual uint64_t workingSet(uint32_t processId) = 0;
  // The name of a port (host byte order) in the host's services database.
  virtual std::optional<std::string> serviceName(uint16_t port, bool udp) = 0;
};
