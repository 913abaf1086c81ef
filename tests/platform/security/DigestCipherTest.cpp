#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/security/Cipher.h"
#include "platform/security/Digest.h"
#include "platform/security/Hex.h"
#include "platform/security/Random.h"
#include "platform/security/UUID.h"

namespace {

using namespace sec;

std::string unhex(std::string_view text) {
  return hexDecode(text).value();
}
std::string unhexForData(std::string_view text) {
  return unhex(text);
}

TEST(DigestTest, PublishedVectors) {
  EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5Hex("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
  EXPECT_EQ(sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

  // The C-shaped calls write the same bytes, and binary input with zero bytes is digested whole.
  unsigned char md[CC_MD5_DIGEST_LENGTH];
  const char withZero[] = {'a', '\0', 'b'};
  CC_MD5(withZero, 3, md);
  EXPECT_EQ(hexEncode(md, sizeof md), md5Hex(std::string_view(withZero, 3)));
  EXPECT_NE(md5Hex(std::string_view(withZero, 3)), md5Hex("a"));
  unsigned char sha[CC_SHA256_DIGEST_LENGTH];
  EXPECT_EQ(CC_SHA256(nullptr, 0, sha), sha);
  EXPECT_EQ(hexEncode(sha, sizeof sha), sha256Hex(""));
}

TEST(DigestTest, DataFormsMatchTheByteStringForms) {
  ns::Data abc("abc");
  EXPECT_EQ(hexEncode(md5(abc)), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(sha1(abc).length(), 20u);
  EXPECT_EQ(hexEncode(sha256(ns::Data())), sha256Hex(""));
  EXPECT_EQ(hmac(DigestAlgorithm::SHA1, ns::Data(std::string(20, '\x0b')), ns::Data("Hi There")),
            ns::Data(unhexForData("b617318655057264e28bc0b6fb378c8ef146be00")));
  EXPECT_EQ(hexDecodeData("00ff"), ns::Data(std::string("\x00\xff", 2)));
  EXPECT_FALSE(hexDecodeData("0"));
  EXPECT_EQ(randomData(33).length(), 33u);
  ns::Data out, back;
  ns::Data key(std::string(32, 'k'));
  ASSERT_EQ(crypt(kCCEncrypt, kCCOptionPKCS7Padding | kCCOptionECBMode, key, ns::Data(),
                  ns::Data("{\"a\":\"b\"}"), &out),
            kCCSuccess);
  EXPECT_EQ(out.length(), 16u);
  ASSERT_EQ(crypt(kCCDecrypt, kCCOptionPKCS7Padding | kCCOptionECBMode, key, ns::Data(), out, &back),
            kCCSuccess);
  EXPECT_EQ(back.toString(), "{\"a\":\"b\"}");
}

TEST(DigestTest, IncrementalMatchesOneShotAndRestarts) {
  Digest d(DigestAlgorithm::SHA1);
  std::string chunk(1000, 'a');
  for (int i = 0; i < 1000; ++i) d.update(chunk);
  EXPECT_EQ(hexEncode(d.finish()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");  // a million 'a'
  d.update("ab");
  d.update("c");
  EXPECT_EQ(hexEncode(d.finish()), sha1Hex("abc"));
}

TEST(DigestTest, HmacVectors) {
  std::string key20(20, '\x0b');
  EXPECT_EQ(hexEncode(hmac(DigestAlgorithm::SHA1, key20, "Hi There")),
            "b617318655057264e28bc0b6fb378c8ef146be00");
  EXPECT_EQ(hexEncode(hmac(DigestAlgorithm::SHA256, key20, "Hi There")),
            "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  EXPECT_EQ(hexEncode(hmac(DigestAlgorithm::MD5, std::string(16, '\x0b'), "Hi There")),
            "9294727a3638bb1c13f48ef8158bfc9d");
  unsigned char mac[32];
  std::string data = "what do ya want for nothing?";
  CCHmac(kCCHmacAlgSHA256, "Jefe", 4, data.data(), data.size(), mac);
  EXPECT_EQ(hexEncode(mac, 32), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(HexTest, EncodesAndRejectsMalformedText) {
  EXPECT_EQ(hexEncode(std::string("\x00\xab\xff", 3)), "00abff");
  EXPECT_EQ(hexEncode(std::string("\x00\xab\xff", 3), true), "00ABFF");
  EXPECT_EQ(hexEncode(nullptr, 5), "");
  EXPECT_EQ(hexDecode("00AbfF"), std::string("\x00\xab\xff", 3));
  EXPECT_EQ(hexDecode(""), std::string());
  EXPECT_FALSE(hexDecode("abc").has_value());
  EXPECT_FALSE(hexDecode("zz").has_value());
  EXPECT_FALSE(hexDecode("0x").has_value());
}

const std::string kAes256Key = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
const std::string kAes128Key = "2b7e151628aed2a6abf7158809cf4f3c";
const std::string kIv = "000102030405060708090a0b0c0d0e0f";
const std::string kBlock1 = "6bc1bee22e409f96e93d7e117393172a";
const std::string kBlock2 = "ae2d8a571e03ac9c9eb76fac45af8e51";

TEST(CipherTest, AesVectorsInEcbAndCbcWithAndWithoutPadding) {
  struct Case {
    CCOptions options;
    const std::string& key;
    std::string iv, plain, cipher;
  } cases[] = {
      // The vector's block, then a whole block of padding; without padding the bare vector.
      {kCCOptionECBMode | kCCOptionPKCS7Padding, kAes256Key, "", unhex(kBlock1),
       "f3eed1bdb5d2a03c064b5a7e3db181f84c45dfb3b3b484ec35b0512dc8c1c4d6"},
      {kCCOptionECBMode, kAes256Key, "", unhex(kBlock1), "f3eed1bdb5d2a03c064b5a7e3db181f8"},
      {0, kAes128Key, unhex(kIv), unhex(kBlock1 + kBlock2),
       "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"},
      {kCCOptionPKCS7Padding, kAes128Key, unhex(kIv), unhex(kBlock1),
       "7649abac8119b246cee98e9b12e9197d8964e0b149c10b7b682e6e39aaeb731c"},
      {kCCOptionPKCS7Padding, kAes128Key, unhex(kIv), "Pelorin", "fafb8b78b6fdb6f95a8bef29be059db3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cipher);
    std::string out, back;
    ASSERT_EQ(crypt(kCCEncrypt, c.options, unhex(c.key), c.iv, c.plain, &out), kCCSuccess);
    EXPECT_EQ(hexEncode(out), c.cipher);
    ASSERT_EQ(crypt(kCCDecrypt, c.options, unhex(c.key), c.iv, out, &back), kCCSuccess);
    EXPECT_EQ(back, c.plain);
  }
}

TEST(CipherTest, StatusCodesForBadInput) {
  const std::string key = unhex(kAes128Key);
  unsigned char out[64];
  std::size_t moved = 99;
  // Key lengths other than 16, 24 and 32 bytes.
  EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, key.data(), 15, nullptr, "abc", 3,
                    out, sizeof out, &moved),
            kCCParamError);
  EXPECT_EQ(moved, 0u);
  EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, nullptr, 16, nullptr, "abc", 3, out,
                    sizeof out, &moved),
            kCCParamError);
  EXPECT_EQ(CCCrypt(7, kCCAlgorithmAES, 0, key.data(), 16, nullptr, "abc", 3, out, sizeof out, &moved),
            kCCParamError);
  EXPECT_EQ(
      CCCrypt(kCCEncrypt, kCCAlgorithmDES, 0, key.data(), 8, nullptr, "abc", 3, out, sizeof out, &moved),
      kCCUnimplemented);
  // Too small an output buffer reports the size needed.
  EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, key.data(), 16, nullptr, "abc", 3,
                    out, 15, &moved),
            kCCBufferTooSmall);
  EXPECT_EQ(moved, 16u);
  // Without padding the input must be whole blocks.
  EXPECT_EQ(
      CCCrypt(kCCEncrypt, kCCAlgorithmAES, 0, key.data(), 16, nullptr, "abc", 3, out, sizeof out, &moved),
      kCCAlignmentError);

  // Corrupt padding: a block whose last plain byte is 0 is not PKCS#7; the output stays untouched.
  std::string zeros(16, '\0'), enciphered;
  ASSERT_EQ(crypt(kCCEncrypt, kCCOptionECBMode, key, "", zeros, &enciphered), kCCSuccess);
  std::string sentinel(32, 'S'), deciphered = sentinel;
  std::size_t movedBytes = 7;
  EXPECT_EQ(
      CCCrypt(kCCDecrypt, kCCAlgorithmAES, kCCOptionECBMode | kCCOptionPKCS7Padding, key.data(), 16, nullptr,
              enciphered.data(), enciphered.size(), deciphered.data(), deciphered.size(), &movedBytes),
      kCCDecodeError);
  EXPECT_EQ(deciphered, sentinel);
  EXPECT_EQ(movedBytes, 0u);
  // A truncated ciphertext is not whole blocks.
  EXPECT_EQ(crypt(kCCDecrypt, kCCOptionPKCS7Padding, key, "", enciphered.substr(0, 10), &deciphered),
            kCCAlignmentError);
}

TEST(CipherTest, InPlaceRoundTripOfEveryKeySize) {
  for (std::size_t keyLength : {kCCKeySizeAES128, kCCKeySizeAES192, kCCKeySizeAES256}) {
    std::string key = randomBytes(keyLength), iv = randomBytes(16);
    std::string text = "a text that is longer than a single AES block";
    std::string buffer = text + std::string(16, '\0');
    std::size_t moved = 0;
    ASSERT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, key.data(), key.size(), iv.data(),
                      buffer.data(), text.size(), buffer.data(), buffer.size(), &moved),
              kCCSuccess);
    EXPECT_EQ(moved, 48u);
    EXPECT_NE(buffer.substr(0, text.size()), text);
    ASSERT_EQ(CCCrypt(kCCDecrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, key.data(), key.size(), iv.data(),
                      buffer.data(), moved, buffer.data(), buffer.size(), &moved),
              kCCSuccess);
    EXPECT_EQ(buffer.substr(0, moved), text);
  }
}

TEST(RandomTest, FillsBuffersAndRejectsNull) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) seen.insert(randomBytes(16));
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_EQ(SecRandomCopyBytes(kSecRandomDefault, 4, nullptr), -1);
  EXPECT_EQ(SecRandomCopyBytes(kSecRandomDefault, 0, nullptr), 0);
  std::string big(1 << 16, '\0');
  EXPECT_EQ(SecRandomCopyBytes(kSecRandomDefault, big.size(), big.data()), 0);
  EXPECT_NE(big, std::string(1 << 16, '\0'));
}

TEST(UUIDTest, GeneratesParsesAndPrintsUpperCase) {
  sec::UUID a, b;
  EXPECT_NE(a, b);
  std::string text = a.UUIDString();
  ASSERT_EQ(text.size(), 36u);
  EXPECT_EQ(text[8], '-');
  EXPECT_EQ(text[14], '4');  // version 4
  EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);
  EXPECT_EQ(sec::UUID::fromString(text), a);

  auto parsed = sec::UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->UUIDString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  EXPECT_EQ(parsed->bytes()[0], 0xE6);
  EXPECT_EQ(parsed->bytes()[15], 0x5F);
  EXPECT_EQ(sec::UUID(parsed->bytes()), *parsed);

  EXPECT_FALSE(sec::UUID::fromString(""));
  EXPECT_FALSE(sec::UUID::fromString("e621e1f8c36c495a93fc0c247a3e6e5f"));
  EXPECT_FALSE(sec::UUID::fromString("g621e1f8-c36c-495a-93fc-0c247a3e6e5f"));
  EXPECT_FALSE(sec::UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f0"));
  EXPECT_EQ(sec::UUID::newUUIDString().size(), 36u);
}

}  // namespace
