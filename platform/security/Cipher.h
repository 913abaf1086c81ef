#pragma once
// Symmetric ciphers behind the one-shot call the callers were written against: AES with a
// 128-, 192- or 256-bit key, CBC (default) or ECB, with or without PKCS#7 padding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/Data.h"

namespace sec {

using CCCryptorStatus = std::int32_t;
inline constexpr CCCryptorStatus kCCSuccess = 0;
inline constexpr CCCryptorStatus kCCParamError = -4300;
inline constexpr CCCryptorStatus kCCBufferTooSmall = -4301;
inline constexpr CCCryptorStatus kCCMemoryFailure = -4302;
inline constexpr CCCryptorStatus kCCAlignmentError = -4303;
inline constexpr CCCryptorStatus kCCDecodeError = -4304;
inline constexpr CCCryptorStatus kCCUnimplemented = -4305;

using CCOperation = std::uint32_t;
inline constexpr CCOperation kCCEncrypt = 0;
inline constexpr CCOperation kCCDecrypt = 1;

using CCAlgorithm = std::uint32_t;
inline constexpr CCAlgorithm kCCAlgorithmAES128 = 0;
inline constexpr CCAlgorithm kCCAlgorithmAES = 0;
inline constexpr CCAlgorithm kCCAlgorithmDES = 1;
inline constexpr CCAlgorithm kCCAlgorithm3DES = 2;

using CCOptions = std::uint32_t;
inline constexpr CCOptions kCCOptionPKCS7Padding = 0x0001;
inline constexpr CCOptions kCCOptionECBMode = 0x0002;

inline constexpr std::size_t kCCKeySizeAES128 = 16;
inline constexpr std::size_t kCCKeySizeAES192 = 24;
inline constexpr std::size_t kCCKeySizeAES256 = 32;
inline constexpr std::size_t kCCBlockSizeAES128 = 16;

// Enciphers or deciphers dataIn into dataOut. iv (16 bytes) is used in CBC mode only; null
// means zeros. Answers kCCParamError for a bad operation, key length or null buffer,
// kCCUnimplemented for an algorithm other than AES, kCCAlignmentError for input that is not a
// whole number of blocks where that is needed, kCCBufferTooSmall (with *dataOutMoved set to the
// size needed) and kCCDecodeError for bad padding. dataOut is written only on success.
// dataIn and dataOut may be the same buffer.
CCCryptorStatus CCCrypt(CCOperation op, CCAlgorithm alg, CCOptions options, const void* key,
                        std::size_t keyLength, const void* iv, const void* dataIn, std::size_t dataInLength,
                        void* dataOut, std::size_t dataOutAvailable, std::size_t* dataOutMoved);

// Byte-string form: the result in *out on success.
CCCryptorStatus crypt(CCOperation op, CCOptions options, std::string_view key, std::string_view iv,
                      std::string_view input, std::string* out);
CCCryptorStatus crypt(CCOperation op, CCOptions options, const ns::Data& key, const ns::Data& iv,
                      const ns::Data& input, ns::Data* out);

}  // namespace sec
