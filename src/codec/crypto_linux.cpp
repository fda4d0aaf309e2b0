#include <openssl/evp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codec/crypto.h"

namespace {

constexpr size_t kLineChars = kBase64LineChars + 2;  // with its CR LF

}  // namespace

Base64Encoder::~Base64Encoder() {
  std::free(text_);
}

void Base64Encoder::reserve(uint64_t textChars) {
  // One more for the terminator the library writes after the last line.
  if (textChars + 1 <= size_) return;
  char* room = extend(size_t(textChars) + 1 - size_);
  // Large text lives in pages of its own: have the kernel supply them all in one call rather
  // than one fault per page as the encoder reaches them (a third of the time for a big file).
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  const uintptr_t from = (uintptr_t(room) + page - 1) & ~(page - 1);
  const uintptr_t to = uintptr_t(text_ + capacity_) & ~(page - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
}

char* Base64Encoder::extend(size_t more) {
  if (more > capacity_ - size_) {
    // At least double, so text of unknown length is moved a few times only.
    const size_t capacity = std::max({size_ + more, 2 * capacity_, size_t(1) << 12});
    void* p = std::realloc(text_, capacity);
    if (p == nullptr) throw std::bad_alloc();
    text_ = static_cast<char*>(p);
    capacity_ = capacity;
  }
  return text_ + size_;
}

void Base64Encoder::update(const uint8_t* data, size_t size) {
  if (carrySize_ > 0) {
    const size_t take = std::min(size, kBase64LineBytes - carrySize_);
    std::memcpy(carry_.data() + carrySize_, data, take);
    carrySize_ += take;
    data += take;
    size -= take;
    if (carrySize_ < kBase64LineBytes) return;
    appendLines(carry_.data(), 1);
    carrySize_ = 0;
  }
  const size_t lines = size / kBase64LineBytes;
  appendLines(data, lines);
  carrySize_ = size - lines * kBase64LineBytes;
  if (carrySize_ > 0) std::memcpy(carry_.data(), data + lines * kBase64LineBytes, carrySize_);
}

void Base64Encoder::finish() {
  if (carrySize_ == 0) return;
  const size_t chars = (carrySize_ + 2) / 3 * 4;
  // The terminator the library writes goes under the CR.
  auto* out = reinterpret_cast<unsigned char*>(extend(chars + 2));
  EVP_EncodeBlock(out, carry_.data(), int(carrySize_));
  out[chars] = '\r';
  out[chars + 1] = '\n';
  size_ += chars + 2;
  carrySize_ = 0;
}

void Base64Encoder::appendLines(const uint8_t* data, size_t lineCount) {
  if (lineCount == 0) return;
  auto* out = reinterpret_cast<unsigned char*>(extend(lineCount * kLineChars + 1));
  for (size_t i = 0; i < lineCount; ++i, out += kLineChars, data += kBase64LineBytes) {
    EVP_EncodeBlock(out, data, int(kBase64LineBytes));  // its terminator goes under the CR
    out[kBase64LineChars] = '\r';
    out[kBase64LineChars + 1] = '\n';
  }
  size_ += lineCount * kLineChars;
}

bool Base64Decode(std::string_view clean, std::vector<uint8_t>& bytes) {
  if (clean.size() % 4 != 0) return false;
  const size_t size = Base64DecodedSize(clean);
  // The library decodes padding as zero bytes: room for them, cut afterwards.
  bytes.resize(clean.size() / 4 * 3);
  constexpr size_t kPiece = 1 << 20;  // text per call, a multiple of 4 that fits an int
  size_t written = 0;
  for (size_t at = 0; at < clean.size(); at += kPiece) {
    const size_t n = std::min(kPiece, clean.size() - at);
    const int got = EVP_DecodeBlock(
        bytes.data() + written, reinterpret_cast<const unsigned char*>(clean.data() + at), int(n));
    if (got < 0 || size_t(got) != n / 4 * 3) return false;
    written += size_t(got);
  }
  bytes.resize(size);
  return true;
}

Md5Hasher::Md5Hasher() {
  context_ = EVP_MD_CTX_new();
  if (context_ == nullptr) {
    failure_ = Md5Failure::Context;
  } else if (EVP_DigestInit_ex(context_, EVP_md5(), nullptr) != 1) {
    failure_ = Md5Failure::CreateHash;  // MD5 may be unavailable, e.g. under a strict policy
  }
}

Md5Hasher::~Md5Hasher() {
  EVP_MD_CTX_free(context_);
}

bool Md5Hasher::update(const void* data, size_t size) {
  if (failure_ != Md5Failure::None) return false;
  if (EVP_DigestUpdate(context_, data, size) != 1) failure_ = Md5Failure::HashData;
  return failure_ == Md5Failure::None;
}

bool Md5Hasher::finish(Md5Digest& digest) {
  if (failure_ != Md5Failure::None) return false;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_, digest.data(), &length) != 1 || length != digest.size()) {
    failure_ = Md5Failure::HashValue;
  }
  return failure_ == Md5Failure::None;
}
