#pragma once
// Message digests and HMAC (OpenSSL underneath). The C-shaped calls keep the names and
// argument order the callers were written against; the C++ helpers take and give byte strings.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/core/Data.h"

namespace sec {

inline constexpr std::size_t CC_MD5_DIGEST_LENGTH = 16;
inline constexpr std::size_t CC_SHA1_DIGEST_LENGTH = 20;
inline constexpr std::size_t CC_SHA256_DIGEST_LENGTH = 32;

// One-shot digests into md (which must hold the digest length); answer md.
unsigned char* CC_MD5(const void* data, std::uint32_t length, unsigned char* md);
unsigned char* CC_SHA1(const void* data, std::uint32_t length, unsigned char* md);
unsigned char* CC_SHA256(const void* data, std::uint32_t length, unsigned char* md);

enum CCHmacAlgorithm : std::uint32_t {
  kCCHmacAlgSHA1 = 0,
  kCCHmacAlgMD5 = 1,
  kCCHmacAlgSHA256 = 2,
};
// HMAC of data under key into macOut (which must hold the algorithm's digest length).
void CCHmac(CCHmacAlgorithm algorithm, const void* key, std::size_t keyLength, const void* data,
            std::size_t dataLength, void* macOut);

enum class DigestAlgorithm { MD5, SHA1, SHA256 };

std::size_t digestLength(DigestAlgorithm algorithm);

// The raw digest / HMAC as a byte string, and the same as lower-case hexadecimal text.
std::string digest(DigestAlgorithm algorithm, std::string_view bytes);
std::string digestHex(DigestAlgorithm algorithm, std::string_view bytes);
std::string hmac(DigestAlgorithm algorithm, std::string_view key, std::string_view bytes);

inline std::string md5(std::string_view bytes) {
  return digest(DigestAlgorithm::MD5, bytes);
}
inline std::string sha1(std::string_view bytes) {
  return digest(DigestAlgorithm::SHA1, bytes);
}
inline std::string sha256(std::string_view bytes) {
  return digest(DigestAlgorithm::SHA256, bytes);
}
inline std::string md5Hex(std::string_view bytes) {
  return digestHex(DigestAlgorithm::MD5, bytes);
}
inline std::string sha1Hex(std::string_view bytes) {
  return digestHex(DigestAlgorithm::SHA1, bytes);
}
inline std::string sha256Hex(std::string_view bytes) {
  return digestHex(DigestAlgorithm::SHA256, bytes);
}

// The same over Data, answering Data.
ns::Data digest(DigestAlgorithm algorithm, const ns::Data& bytes);
ns::Data hmac(DigestAlgorithm algorithm, const ns::Data& key, const ns::Data& bytes);
inline ns::Data md5(const ns::Data& bytes) {
  return digest(DigestAlgorithm::MD5, bytes);
}
inline ns::Data sha1(const ns::Data& bytes) {
  return digest(DigestAlgorithm::SHA1, bytes);
}
inline ns::Data sha256(const ns::Data& bytes) {
  return digest(DigestAlgorithm::SHA256, bytes);
}

// Incremental digest for data that arrives in pieces (files, streams).
class Digest {
 public:
  explicit Digest(DigestAlgorithm algorithm);
  ~Digest();
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;

  void update(const void* bytes, std::size_t length);
  void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }
  void update(const ns::Data& bytes) { update(bytes.bytes(), bytes.length()); }
  // The digest of everything given so far; the object starts over afterwards.
  std::string finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sec
