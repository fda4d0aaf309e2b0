#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Reads fixed-size fields of a received message. Every read checks what remains; a read past
// the end sets the sticky failure and yields 0, so callers check failed() once per record.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t length) : data_(data), length_(data ? length : 0) {}

  uint8_t u8(size_t at) {
    if (!has(at, 1)) return 0;
    return data_[at];
  }
  uint16_t u16(size_t at) {  // network order in, host order out
    if (!has(at, 2)) return 0;
    return static_cast<uint16_t>((data_[at] << 8) | data_[at + 1]);
  }
  uint16_t port(size_t at) {  // stays in network order
    if (!has(at, 2)) return 0;
    uint16_t value;
    std::memcpy(&value, data_ + at, 2);
    return value;
  }
  uint32_t address(size_t at) {  // stays in network order
    if (!has(at, 4)) return 0;
    uint32_t value;
    std::memcpy(&value, data_ + at, 4);
    return value;
  }
  // The bytes from `at` to the end, as a reader of their own.
  ByteReader from(size_t at) {
    if (at > length_) {
      failed_ = true;
      return ByteReader(nullptr, 0);
    }
    return ByteReader(data_ + at, length_ - at);
  }
  bool has(size_t at, size_t count) {
    if (at > length_ || count > length_ - at) failed_ = true;
    return !failed_;
  }
  size_t length() const { return length_; }
  const uint8_t* data() const { return data_; }
  bool failed() const { return failed_; }

 private:
  const uint8_t* data_;
  size_t length_;
  bool failed_ = false;
};
