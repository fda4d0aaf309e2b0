#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/ip_address.h"

// Builds a record of the agent's stream: fields one after another, multi-byte values in network
// order (big-endian), texts and byte strings with their length before them. ByteReader's next*
// calls read them back, and RecordReader's texts.
class RecordWriter {
 public:
  RecordWriter& u8(uint8_t value) {
    bytes_.push_back(value);
    return *this;
  }
  RecordWriter& u16(uint16_t value) { return u8(uint8_t(value >> 8)).u8(uint8_t(value)); }
  RecordWriter& u32(uint32_t value) { return u16(uint16_t(value >> 16)).u16(uint16_t(value)); }
  RecordWriter& u64(uint64_t value) { return u32(uint32_t(value >> 32)).u32(uint32_t(value)); }
  RecordWriter& i32(int32_t value) { return u32(uint32_t(value)); }
  RecordWriter& raw(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
    return *this;
  }
  // A length (u32) and the bytes.
  RecordWriter& text(std::string_view value) {
    return u32(uint32_t(value.size())).raw(value.data(), value.size());
  }
  RecordWriter& blob(const std::vector<uint8_t>& value) {
    return u32(uint32_t(value.size())).raw(value.data(), value.size());
  }
  // The family (4 or 6) and the sixteen bytes.
  RecordWriter& address(const IpAddress& value) {
    return u8(value.isIpv4() ? 4 : 6).raw(value.bytes().data(), value.bytes().size());
  }

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};
