#include "platform/security/Digest.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <stdexcept>

#include "platform/security/Hex.h"

namespace sec {

namespace {

const EVP_MD* evpFor(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::MD5:
      return EVP_md5();
    case DigestAlgorithm::SHA1:
      return EVP_sha1();
    case DigestAlgorithm::SHA256:
      return EVP_sha256();
  }
  return EVP_sha256();
}

void oneShot(DigestAlgorithm algorithm, const void* data, std::size_t length, unsigned char* md) {
  unsigned int outLength = 0;
  static const unsigned char empty = 0;
  EVP_Digest(data ? data : &empty, data ? length : 0, md, &outLength, evpFor(algorithm), nullptr);
}

}  // namespace

std::size_t digestLength(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::MD5:
      return CC_MD5_DIGEST_LENGTH;
    case DigestAlgorithm::SHA1:
      return CC_SHA1_DIGEST_LENGTH;
    case DigestAlgorithm::SHA256:
      return CC_SHA256_DIGEST_LENGTH;
  }
  return 0;
}

unsigned char* CC_MD5(const void* data, std::uint32_t length, unsigned char* md) {
  oneShot(DigestAlgorithm::MD5, data, length, md);
  return md;
}

unsigned char* CC_SHA1(const void* data, std::uint32_t length, unsigned char* md) {
  oneShot(DigestAlgorithm::SHA1, data, length, md);
  return md;
}

unsigned char* CC_SHA256(const void* data, std::uint32_t length, unsigned char* md) {
  oneShot(DigestAlgorithm::SHA256, data, length, md);
  return md;
}

void CCHmac(CCHmacAlgorithm algorithm, const void* key, std::size_t keyLength, const void* data,
            std::size_t dataLength, void* macOut) {
  DigestAlgorithm alg = algorithm == kCCHmacAlgMD5    ? DigestAlgorithm::MD5
                        : algorithm == kCCHmacAlgSHA1 ? DigestAlgorithm::SHA1
                                                      : DigestAlgorithm::SHA256;
  static const unsigned char empty = 0;
  unsigned int outLength = 0;
  HMAC(evpFor(alg), key ? key : &empty, key ? static_cast<int>(keyLength) : 0,
       static_cast<const unsigned char*>(data ? data : &empty), data ? dataLength : 0,
       static_cast<unsigned char*>(macOut), &outLength);
}

std::string digest(DigestAlgorithm algorithm, std::string_view bytes) {
  std::string out(digestLength(algorithm), '\0');
  oneShot(algorithm, bytes.data(), bytes.size(), reinterpret_cast<unsigned char*>(out.data()));
  return out;
}

std::string digestHex(DigestAlgorithm algorithm, std::string_view bytes) {
  return hexEncode(digest(algorithm, bytes));
}

std::string hmac(DigestAlgorithm algorithm, std::string_view key, std::string_view bytes) {
  std::string out(digestLength(algorithm), '\0');
  CCHmacAlgorithm alg = algorithm == DigestAlgorithm::MD5    ? kCCHmacAlgMD5
                        : algorithm == DigestAlgorithm::SHA1 ? kCCHmacAlgSHA1
                                                             : kCCHmacAlgSHA256;
  CCHmac(alg, key.data(), key.size(), bytes.data(), bytes.size(), out.data());
  return out;
}

ns::Data digest(DigestAlgorithm algorithm, const ns::Data& bytes) {
  return ns::Data(digest(algorithm, bytes.view()));
}

ns::Data hmac(DigestAlgorithm algorithm, const ns::Data& key, const ns::Data& bytes) {
  return ns::Data(hmac(algorithm, key.view(), bytes.view()));
}

struct Digest::Impl {
  DigestAlgorithm algorithm;
  EVP_MD_CTX* ctx = nullptr;
};

Digest::Digest(DigestAlgorithm algorithm) : impl_(std::make_unique<Impl>()) {
  impl_->algorithm = algorithm;
  impl_->ctx = EVP_MD_CTX_new();
  if (!impl_->ctx || EVP_DigestInit_ex(impl_->ctx, evpFor(algorithm), nullptr) != 1) throw std::bad_alloc();
}

Digest::~Digest() {
  EVP_MD_CTX_free(impl_->ctx);
}

void Digest::update(const void* bytes, std::size_t length) {
  if (bytes && length) EVP_DigestUpdate(impl_->ctx, bytes, length);
}

std::string Digest::finish() {
  std::string out(digestLength(impl_->algorithm), '\0');
  unsigned int outLength = 0;
  EVP_DigestFinal_ex(impl_->ctx, reinterpret_cast<unsigned char*>(out.data()), &outLength);
  EVP_DigestInit_ex(impl_->ctx, evpFor(impl_->algorithm), nullptr);
  return out;
}

}  // namespace sec
