#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "netstat/endpoint_table.h"
#include "netstat/netstat_service.h"

// NetstatService over the agent's stream. Each operation: its request in kFrameOpen, its reply
// messages, then the channel's end. The endpoints come as batches of at most
// kEndpointBatchRecords records, in snapshot order, each batch one message (well under
// kMessageLimit); the channel then ends with 0, or with EIO when the tables could not be read.
inline constexpr uint16_t kNetstatEndpoints = 1;         // nothing -> batches
inline constexpr uint16_t kNetstatKillConnection = 2;    // EndpointRecord -> errno
inline constexpr uint16_t kNetstatTerminateProcess = 3;  // process id -> TerminateResult
inline constexpr uint16_t kNetstatExecutableFile = 4;    // process id -> ExecutableFile or nothing
inline constexpr uint16_t kNetstatProcessText = 5;       // ProcessTextAsked -> ProcessText
inline constexpr uint16_t kNetstatWorkingSet = 6;        // process id -> bytes
inline constexpr uint16_t kNetstatServiceName = 7;       // ServiceNameAsked -> text or nothing

// Records of one batch, at most; and of one snapshot, which a window takes no more of.
inline constexpr uint32_t kEndpointBatchRecords = 4096;
inline constexpr uint32_t kEndpointSnapshotLimit = uint32_t(1) << 20;
// The longest path, command line or service name either side takes, and the largest capacity a
// process text is asked with.
inline constexpr uint32_t kNetstatTextLimit = 64 * 1024;

struct ProcessTextAsked {
  uint32_t processId = 0;
  bool imagePath = false;
  uint32_t capacity = 0;  // 1 to kNetstatTextLimit
};
struct ServiceNameAsked {
  uint16_t port = 0;  // host byte order
  bool udp = false;
};

// Records [begin, end) of `records` as one batch.
std::vector<uint8_t> EncodeEndpointBatch(const std::vector<EndpointRecord>& records, size_t begin,
                                         size_t end);
// Appends a batch's records to `records`; false (and nothing appended) for a batch that cannot
// be read or would take `records` past kEndpointSnapshotLimit.
bool DecodeEndpointBatch(const std::vector<uint8_t>& bytes, std::vector<EndpointRecord>& records);

std::vector<uint8_t> EncodeEndpointRecord(const EndpointRecord& record);
std::optional<EndpointRecord> DecodeEndpointRecord(const std::vector<uint8_t>& bytes);

// A process id, an errno, a byte count: one number.
std::vector<uint8_t> EncodeNetstatNumber(uint64_t value);
std::optional<uint64_t> DecodeNetstatNumber(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeTerminateResult(TerminateResult result);
std::optional<TerminateResult> DecodeTerminateResult(const std::vector<uint8_t>& bytes);

// The outer optional: whether the record could be read.
std::vector<uint8_t> EncodeNetstatText(const std::optional<std::string>& text);
std::optional<std::optional<std::string>> DecodeNetstatText(const std::vector<uint8_t>& bytes);

// The outer optional: whether the record could be read.
std::vector<uint8_t> EncodeExecutableFile(const std::optional<ExecutableFile>& file);
std::optional<std::optional<ExecutableFile>> DecodeExecutableFile(
    const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeProcessTextAsked(const ProcessTextAsked& asked);
std::optional<ProcessTextAsked> DecodeProcessTextAsked(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> EncodeProcessText(const ProcessText& text);
std::optional<ProcessText> DecodeProcessText(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeServiceNameAsked(const ServiceNameAsked& asked);
std::optional<ServiceNameAsked> DecodeServiceNameAsked(const std::vector<uint8_t>& bytes);
