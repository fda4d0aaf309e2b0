#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/ip_address.h"

// Reads a record RecordWriter built: the ByteReader cursor, with texts, byte strings and
// addresses, each bounded by the limit the caller gives (a peer's length is never trusted).
class RecordReader : public ByteReader {
 public:
  RecordReader(const uint8_t* data, size_t length) : ByteReader(data, length) {}
  explicit RecordReader(const std::vector<uint8_t>& bytes)
      : ByteReader(bytes.data(), bytes.size()) {}

  int32_t nextI32() { return int32_t(next32()); }
  bool nextBool() { return next8() != 0; }
  // A text of at most `limit` bytes; longer (or cut short) fails the record.
  std::string nextText(size_t limit) {
    const uint32_t size = next32();
    if (size > limit || size > remaining()) {
      fail();
      return {};
    }
    const uint8_t* bytes = nextSpan(size);
    return bytes ? std::string(reinterpret_cast<const char*>(bytes), size) : std::string();
  }
  std::vector<uint8_t> nextBlob(size_t limit) {
    const uint32_t size = next32();
    if (size > limit || size > remaining()) {
      fail();
      return {};
    }
    const uint8_t* bytes = nextSpan(size);
    return bytes ? std::vector<uint8_t>(bytes, bytes + size) : std::vector<uint8_t>();
  }
  IpAddress nextAddress() {
    const uint8_t family = next8();
    IpAddress::Bytes bytes{};
    if (!nextBytes(bytes.data(), bytes.size()) || (family != 4 && family != 6)) {
      fail();
      return {};
    }
    if (family == 6) return IpAddress::Ipv6(bytes);
    uint32_t value;
    std::memcpy(&value, bytes.data(), 4);
    for (size_t i = 4; i < bytes.size(); ++i) {
      if (bytes[i] != 0) fail();  // an IPv4 address is four bytes and zeros
    }
    return IpAddress::Ipv4(value);
  }
  // A count of items each at least `itemSize` bytes long, no more than `limit` and no more than
  // the bytes left can hold, so a peer's count never sizes an allocation by itself.
  uint32_t nextCount(uint32_t limit, size_t itemSize) {
    const uint32_t count = next32();
    if (count > limit || (itemSize > 0 && count > remaining() / itemSize)) {
      fail();
      return 0;
    }
    return count;
  }
  // Whether the whole record was read and nothing was wrong with it.
  bool complete() const { return !failed() && atEnd(); }
};
