#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "lib/foundation/Base64.h"

namespace {

std::string decode(const std::string& text) {
  std::size_t n = 99;
  void* out = Base64DecodeBytes(text.data(), text.size(), &n);
  EXPECT_NE(out, nullptr);
  std::string bytes(static_cast<char*>(out), n);
  std::free(out);
  return bytes;
}

std::string encode(const std::string& bytes, bool separateLines) {
  std::size_t n = 99;
  char* out = Base64EncodeBytes(bytes.data(), bytes.size(), separateLines, &n);
  EXPECT_NE(out, nullptr);
  std::string text(out);
  EXPECT_EQ(text.size(), n);
  std::free(out);
  return text;
}

TEST(Base64Test, DecodingSkipsEverythingOutsideTheAlphabetPaddingIncluded) {
  struct Case {
    std::string text, bytes;
  } cases[] = {
      {"QQ==", "A"},
      {"QUI=", "AB"},
      {"QUJD", "ABC"},
      {"QUJD\r\n", "ABC"},
      {"QUJD\nRA==", "ABCD"},
      {"QUJDRA", "ABCD"},
      {"Q", ""},
      {"====", ""},
      {"QQ==QUI=", decode("QQQUI")},
      {"QQQUI", std::string("A\x04\x14", 3)},
      {"-_-_-_-_", ""},
      {std::string("Q\x80U\xffJD", 6), "ABC"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(decode(c.text), c.bytes) << "text: " << c.text;

  // NUL-terminated form: the length is measured.
  std::size_t n = 0;
  void* out = Base64DecodeBytes("QUJD", static_cast<std::size_t>(-1), &n);
  EXPECT_EQ(std::string(static_cast<char*>(out), n), "ABC");
  std::free(out);
  // Without an out-length the bytes still come back.
  out = Base64DecodeBytes("QUI=", 4, nullptr);
  EXPECT_EQ(std::string(static_cast<char*>(out), 2), "AB");
  std::free(out);
}

TEST(Base64Test, EncodingPadsAndBreaksLinesEvery64Characters) {
  EXPECT_EQ(encode("a", true), "YQ==");
  EXPECT_EQ(encode("ab", true), "YWI=");
  EXPECT_EQ(encode("abc", true), "YWJj");
  EXPECT_EQ(encode("", true), "");
  std::string b48(48, 'x'), b49(49, 'x'), b96(96, 'x');
  EXPECT_EQ(encode(b48, true).size(), 64u);
  EXPECT_EQ(encode(b48, true).find('\r'), std::string::npos);
  std::string t49 = encode(b49, true);
  ASSERT_EQ(t49.size(), 70u);
  EXPECT_EQ(t49.substr(64, 2), "\r\n");
  EXPECT_EQ(t49.substr(66), "eA==");
  std::string t96 = encode(b96, true);
  ASSERT_EQ(t96.size(), 130u);
  EXPECT_EQ(t96.substr(64, 2), "\r\n");
  EXPECT_EQ(t96.find('\r', 66), std::string::npos);
  EXPECT_EQ(encode(b96, false).find('\r'), std::string::npos);
  EXPECT_EQ(DataBase64::base64EncodedString(ns::Data(b49)), t49);
  EXPECT_EQ(DataBase64::base64EncodedStringWithSeparateLines(ns::Data(b49), false).find('\r'),
            std::string::npos);
}

TEST(Base64Test, RandomBuffersRoundTripWithAndWithoutLineBreaks) {
  std::mt19937 random(42);
  for (int i = 0; i < 1000; ++i) {
    std::string bytes(random() % 301, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    ns::Data data(bytes);
    for (bool lines : {true, false}) {
      std::string text = DataBase64::base64EncodedStringWithSeparateLines(data, lines);
      ASSERT_EQ(DataBase64::dataFromBase64String(text), data) << "buffer " << i << " lines " << lines;
    }
  }
}

TEST(Base64Test, NilEmptyAndNonAsciiTextGiveEmptyData) {
  EXPECT_EQ(DataBase64::dataFromBase64String(std::nullopt).length(), 0u);
  EXPECT_EQ(DataBase64::dataFromBase64String("").length(), 0u);
  EXPECT_EQ(DataBase64::dataFromBase64String("QUJD\xc3\xa9").length(), 0u);  // "QUJDé"
  EXPECT_EQ(DataBase64::dataFromBase64String("QUJD"), ns::Data(std::string("ABC")));
}

}  // namespace
