#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "codec/crypto.h"

void Base64Encoder::reserve(uint64_t textChars) {
  text_.reserve(textChars);
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
  if (carrySize_ > 0) appendLastLine(carry_.data(), carrySize_);
  carrySize_ = 0;
}

void Base64Encoder::appendLines(const uint8_t* data, size_t lineCount) {
  if (lineCount == 0) return;
  constexpr size_t kLine = kBase64LineChars + 2;
  const size_t start = text_.size();
  // One more for the terminator the library writes after each line; dropped at the end.
  text_.resize(start + lineCount * kLine + 1);
  auto* out = reinterpret_cast<unsigned char*>(text_.data() + start);
  for (size_t i = 0; i < lineCount; ++i, out += kLine, data += kBase64LineBytes) {
    EVP_EncodeBlock(out, data, int(kBase64LineBytes));
    out[kBase64LineChars] = '\r';
    out[kBase64LineChars + 1] = '\n';
  }
  text_.resize(start + lineCount * kLine);
}

void Base64Encoder::appendLastLine(const uint8_t* data, size_t size) {
  const size_t chars = (size + 2) / 3 * 4;
  const size_t start = text_.size();
  text_.resize(start + chars + 1);
  EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text_.data() + start), data, int(size));
  text_.resize(start + chars);
  text_ += "\r\n";
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
