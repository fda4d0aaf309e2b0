#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Reads fixed-size fields of a received message, at given offsets or one after another from a
// cursor (the next* calls). Every read checks what remains; a read past the end sets the sticky
// failure and yields 0, so callers check failed() once per record. Multi-byte values are in
// network order (big-endian) unless the call says otherwise.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t length) : data_(data), length_(data ? length : 0) {}
  // With the cursor at `start`; past the end the reader has failed.
  ByteReader(const uint8_t* data, size_t length, size_t start)
      : data_(data), length_(data ? length : 0), at_(start), failed_(start > length_) {}

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
  // A fixed layout in the host's byte order (netlink's headers and fields, as the kernel writes
  // them); zeroed past the end.
  template <typename T>
  T native(size_t at) {
    static_assert(std::is_trivially_copyable_v<T>);
    T value{};
    if (has(at, sizeof value)) std::memcpy(&value, data_ + at, sizeof value);
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
  // From the cursor on, which each read moves past what it read.
  uint8_t next8() { return advance(1) ? u8(at_ - 1) : 0; }
  uint16_t next16() { return advance(2) ? u16(at_ - 2) : 0; }
  uint32_t next32() {
    if (!advance(4)) return 0;
    return uint32_t(u16(at_ - 4)) << 16 | u16(at_ - 2);
  }
  uint64_t next64() {
    const uint64_t high = next32();
    return high << 32 | next32();
  }
  // `count` bytes into `out`; false (and nothing copied) when fewer remain.
  bool nextBytes(void* out, size_t count) {
    if (!advance(count)) return false;
    if (count > 0) std::memcpy(out, data_ + at_ - count, count);
    return true;
  }
  // A view of the next `count` bytes, or null when fewer remain.
  const uint8_t* nextSpan(size_t count) { return advance(count) ? data_ + at_ - count : nullptr; }
  // Moves the cursor past `count` bytes; past the end the reader fails.
  void skip(size_t count) { advance(count); }
  // Whether the reader is sound and `count` more bytes follow the cursor (it does not fail
  // when not).
  bool hasNext(size_t count) const { return !failed_ && count <= remaining(); }
  size_t position() const { return at_; }
  size_t remaining() const { return failed_ || at_ > length_ ? 0 : length_ - at_; }
  bool atEnd() const { return remaining() == 0; }

  size_t length() const { return length_; }
  const uint8_t* data() const { return data_; }
  bool failed() const { return failed_; }
  // Marks the message as not readable, for a check of the caller's own.
  void fail() { failed_ = true; }

 private:
  bool advance(size_t count) {
    if (!has(at_, count)) return false;
    at_ += count;
    return true;
  }

  const uint8_t* data_;
  size_t length_;
  size_t at_ = 0;
  bool failed_ = false;
};
