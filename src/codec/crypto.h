#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "codec/base64_text.h"

struct evp_md_ctx_st;  // the library's digest context

// Base64 and MD5 through the system's crypto library.

// Encodes bytes handed in pieces of any size into Base64 text in lines (see base64_text.h).
// The text is written once, into memory that is not filled with zeros first: for a large file,
// getting the memory costs half as much as the encoding. Running out of memory throws
// std::bad_alloc.
class Base64Encoder {
 public:
  Base64Encoder() = default;
  ~Base64Encoder();
  Base64Encoder(const Base64Encoder&) = delete;
  Base64Encoder& operator=(const Base64Encoder&) = delete;

  // Room for the whole text, when its size is known ahead.
  void reserve(uint64_t textChars);
  void update(const uint8_t* data, size_t size);
  // Encodes what is left (a last, shorter line with its padding).
  void finish();
  std::string_view text() const { return {text_, size_}; }

 private:
  // Room for `more` characters after the text.
  char* extend(size_t more);
  void appendLines(const uint8_t* data, size_t lineCount);

  std::array<uint8_t, kBase64LineBytes> carry_{};  // bytes of a line not yet complete
  size_t carrySize_ = 0;
  char* text_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Decodes text cleaned by CleanBase64Text into exactly Base64DecodedSize bytes; false when
// the library refuses it.
bool Base64Decode(std::string_view clean, std::vector<uint8_t>& bytes);

// Which step of an MD5 digest failed.
enum class Md5Failure { None, Context, CreateHash, HashData, HashValue };

// An MD5 digest over bytes handed in pieces. A failure is kept: later steps do nothing.
class Md5Hasher {
 public:
  Md5Hasher();
  ~Md5Hasher();
  Md5Hasher(const Md5Hasher&) = delete;
  Md5Hasher& operator=(const Md5Hasher&) = delete;

  Md5Failure failure() const { return failure_; }
  bool update(const void* data, size_t size);
  bool finish(Md5Digest& digest);

 private:
  evp_md_ctx_st* context_ = nullptr;
  Md5Failure failure_ = Md5Failure::None;
};
