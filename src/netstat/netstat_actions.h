#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "capture/capture_filter.h"
#include "netstat/endpoint_table.h"

// What the Netstat list's commands make of a row: its copied line, its capture filter and its
// Connection Properties text.

using RowCells = std::array<std::string, kEndpointColumns>;

RowCells CellsOf(const EndpointRecord& record);

// The five cells separated by tabs, then "\r\n"; at most 299 characters.
std::string FormatRowLine(const RowCells& cells);

// The filter that captures one endpoint's traffic: its local side for UDP and for a listening
// TCP endpoint (any address when that is 0.0.0.0 or ::), its remote side for every other TCP
// one. An IPv4-mapped address is given as the IPv4 address its packets carry.
CaptureFilter CaptureFilterForEndpoint(const EndpointRecord& record);

// The Connection Properties text is held in this many bytes (terminator included).
inline constexpr size_t kPropertiesCapacity = 5000;
// Each of its pieces is formatted in this many.
inline constexpr size_t kPropertiesPieceCapacity = 2000;
// The image path and the command line are read with this capacity.
inline constexpr size_t kProcessTextCapacity = 2000;

// The lookups the text needs, so its rules are checked without a resolver or processes.
struct PropertyLookups {
  // The host name of an address (dotted, or IPv6 text).
  std::function<std::optional<std::string>(const std::string& address)> hostName;
  // The service name of a port (host byte order) for "tcp" or "udp".
  std::function<std::optional<std::string>(uint16_t port, bool udp)> serviceName;
  // As ReadProcessParameter: -1, 0, or the capacity the whole text would need.
  std::function<int(uint32_t processId, bool imagePath, char* buffer, size_t capacity)>
      readProcessText;
  // Working set in bytes, 0 when unknown.
  std::function<uint64_t(uint32_t processId)> workingSet;
};

// The text of a row, from its cells as shown. A path or command line too long for its 2000
// bytes is shown cut; one that cannot be read shows "Access Denied". Lines end in "\r\n"; the
// whole text is cut to 4999 bytes.
std::string BuildConnectionProperties(const RowCells& cells, const PropertyLookups& lookups);

// The process id after the last colon of a Process cell (0 when there is none).
uint32_t ProcessIdOfCell(const std::string& processCell);
