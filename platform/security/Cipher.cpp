#include "platform/security/Cipher.h"

#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <vector>

namespace sec {

namespace {

const EVP_CIPHER* aesCipher(std::size_t keyLength, bool ecb) {
  switch (keyLength) {
    case kCCKeySizeAES128:
      return ecb ? EVP_aes_128_ecb() : EVP_aes_128_cbc();
    case kCCKeySizeAES192:
      return ecb ? EVP_aes_192_ecb() : EVP_aes_192_cbc();
    case kCCKeySizeAES256:
      return ecb ? EVP_aes_256_ecb() : EVP_aes_256_cbc();
    default:
      return nullptr;
  }
}

struct CtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

// Scratch space for plaintext, wiped however the call ends.
struct WipedBuffer {
  explicit WipedBuffer(std::size_t size) : bytes(size) {}
  ~WipedBuffer() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
  WipedBuffer(const WipedBuffer&) = delete;
  WipedBuffer& operator=(const WipedBuffer&) = delete;
  std::vector<unsigned char> bytes;
};

}  // namespace

CCCryptorStatus CCCrypt(CCOperation op, CCAlgorithm alg, CCOptions options, const void* key,
                        std::size_t keyLength, const void* iv, const void* dataIn, std::size_t dataInLength,
                        void* dataOut, std::size_t dataOutAvailable, std::size_t* dataOutMoved) {
  if (dataOutMoved) *dataOutMoved = 0;
  if (op != kCCEncrypt && op != kCCDecrypt) return kCCParamError;
  if (alg != kCCAlgorithmAES) return kCCUnimplemented;
  if (!key) return kCCParamError;
  if (dataInLength > 0 && !dataIn) return kCCParamError;
  if (!dataOut && dataOutAvailable > 0) return kCCParamError;
  const bool ecb = options & kCCOptionECBMode;
  const bool padding = options & kCCOptionPKCS7Padding;
  const EVP_CIPHER* cipher = aesCipher(keyLength, ecb);
  if (!cipher) return kCCParamError;
  if (dataInLength > static_cast<std::size_t>(INT32_MAX) - 2 * kCCBlockSizeAES128) return kCCParamError;

  const std::size_t block = kCCBlockSizeAES128;
  if ((!padding || op == kCCDecrypt) && dataInLength % block != 0) return kCCAlignmentError;
  const std::size_t needed =
      (op == kCCEncrypt && padding) ? (dataInLength / block + 1) * block : dataInLength;
  if (dataOutAvailable < needed) {
    if (dataOutMoved) *dataOutMoved = needed;
    return kCCBufferTooSmall;
  }

  std::unique_ptr<EVP_CIPHER_CTX, CtxFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return kCCMemoryFailure;
  unsigned char zeroIv[16] = {};
  const unsigned char* ivBytes = iv ? static_cast<const unsigned char*>(iv) : zeroIv;
  if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, static_cast<const unsigned char*>(key),
                        ecb ? nullptr : ivBytes, op == kCCEncrypt ? 1 : 0) != 1)
    return kCCParamError;
  EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);

  // Work in a scratch buffer so that a failed decipher leaves nothing half-written behind.
  WipedBuffer wiped(needed + block);
  std::vector<unsigned char>& scratch = wiped.bytes;
  int produced = 0, last = 0;
  static const unsigned char empty = 0;
  if (EVP_CipherUpdate(ctx.get(), scratch.data(), &produced,
                       dataIn ? static_cast<const unsigned char*>(dataIn) : &empty,
                       static_cast<int>(dataInLength)) != 1)
    return kCCDecodeError;
  if (EVP_CipherFinal_ex(ctx.get(), scratch.data() + produced, &last) != 1)
    return op == kCCDecrypt ? kCCDecodeError : kCCParamError;
  const std::size_t total = static_cast<std::size_t>(produced + last);
  if (total > dataOutAvailable) return kCCBufferTooSmall;
  if (total) std::memcpy(dataOut, scratch.data(), total);
  if (dataOutMoved) *dataOutMoved = total;
  return kCCSuccess;
}

CCCryptorStatus crypt(CCOperation op, CCOptions options, std::string_view key, std::string_view iv,
                      std::string_view input, std::string* out) {
  if (!iv.empty() && iv.size() != kCCBlockSizeAES128) return kCCParamError;
  std::string buffer(input.size() + kCCBlockSizeAES128, '\0');
  std::size_t moved = 0;
  CCCryptorStatus status =
      CCCrypt(op, kCCAlgorithmAES, options, key.data(), key.size(), iv.empty() ? nullptr : iv.data(),
              input.data(), input.size(), buffer.data(), buffer.size(), &moved);
  if (status == kCCSuccess && out) {
    buffer.resize(moved);
    *out = std::move(buffer);
  }
  return status;
}

CCCryptorStatus crypt(CCOperation op, CCOptions options, const ns::Data& key, const ns::Data& iv,
                      const ns::Data& input, ns::Data* out) {
  std::string result;
  CCCryptorStatus status = crypt(op, options, key.view(), iv.view(), input.view(), &result);
  if (status == kCCSuccess && out) *out = ns::Data(result);
  return status;
}

}  // namespace sec
