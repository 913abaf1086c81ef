// The content decoder on its own: codings named by the header, bodies in pieces, bodies cut
// short or not of the coding, and a sink that stops it.
#include "platform/net/ContentDecoder.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/platform/net/Deflated.h"

using namespace ns;
using nettest::deflated;
using nettest::gzip;

namespace {

// Decodes `coded` handed over `piece` bytes at a time; nothing when it is not of the coding.
std::optional<std::string> decodeInPieces(ContentDecoder& decoder, const std::string& coded,
                                          std::size_t piece) {
  std::string out;
  auto sink = [&](const char* bytes, std::size_t length) {
    out.append(bytes, length);
    return true;
  };
  for (std::size_t at = 0; at < coded.size(); at += piece) {
    std::size_t length = std::min(piece, coded.size() - at);
    auto used = decoder.decode(coded.data() + at, length, sink);
    if (!used) return std::nullopt;
    EXPECT_EQ(*used, length);
  }
  if (!decoder.decode(nullptr, 0, sink)) return std::nullopt;
  return out;
}

// Letters in no order: coded, they take about as many bytes as decoded ones, so that a piece of
// decoded output comes from a part of the coded bytes only.
std::string noise(std::size_t length) {
  std::mt19937 random(11);
  std::string text(length, '\0');
  for (auto& c : text) c = static_cast<char>('a' + random() % 26);
  return text;
}

}  // namespace

TEST(ContentDecoderTest, TheHeaderNamesGzipOrDeflateOnceAndNothingElse) {
  EXPECT_EQ(*decoderFor(std::nullopt), nullptr);
  EXPECT_EQ(*decoderFor(std::string(" identity , ")), nullptr);
  for (const char* value : {"gzip", "X-GZIP", "identity, deflate"}) {
    auto decoder = decoderFor(std::string(value));
    ASSERT_TRUE(decoder) << value;
    EXPECT_NE(*decoder, nullptr) << value;
  }
  for (const char* value : {"br", "gzip, deflate", "gzip, gzip", "compress"})
    EXPECT_FALSE(decoderFor(std::string(value))) << value;
}

TEST(ContentDecoderTest, BodiesDecodeWholeInAnyPiecesAndTwoGzipMembersFollowEachOther) {
  const std::string text = "a body that is said twice. a body that is said twice. " + noise(100000);
  for (int bits : {31, 15, -15}) {
    for (std::size_t piece : {std::size_t(7), std::size_t(1) << 20}) {
      ContentDecoder decoder(bits == 31);
      EXPECT_EQ(decodeInPieces(decoder, deflated(text, bits), piece), text) << bits << " " << piece;
      EXPECT_TRUE(decoder.complete());
    }
  }
  ContentDecoder byteByByte(true);
  EXPECT_EQ(decodeInPieces(byteByByte, gzip(text), 1), text);
  ContentDecoder twice(true);
  EXPECT_EQ(decodeInPieces(twice, gzip("first ") + gzip("second"), 5), "first second");
  EXPECT_TRUE(twice.complete());
}

TEST(ContentDecoderTest, ABodyCutShortIsIncompleteAndBytesNotOfTheCodingFail) {
  ContentDecoder empty(true);
  EXPECT_TRUE(empty.complete());  // an empty body is whole

  const std::string coded = gzip(noise(50000));
  ContentDecoder cut(true);
  ASSERT_TRUE(decodeInPieces(cut, coded.substr(0, coded.size() / 2), 4096));
  EXPECT_FALSE(cut.complete());

  ContentDecoder garbage(true);
  EXPECT_FALSE(decodeInPieces(garbage, "this is not gzip at all", 64));
  // A deflate stream has nothing after its end.
  ContentDecoder trailing(false);
  EXPECT_FALSE(decodeInPieces(trailing, deflated("done", 15) + "more", 64));
}

TEST(ContentDecoderTest, ASinkThatStopsGetsTheRestFromTheBytesNotUsed) {
  const std::string text = noise(300000);
  const std::string coded = gzip(text);
  ContentDecoder decoder(true);
  std::string out;
  std::size_t offered = 0, rounds = 0;
  // Takes one piece per call, as a transfer held back for its delegate does.
  auto one = [&](const char* bytes, std::size_t length) {
    out.append(bytes, length);
    return false;
  };
  while (offered < coded.size() && rounds++ < 1000) {
    auto used = decoder.decode(coded.data() + offered, coded.size() - offered, one);
    ASSERT_TRUE(used);
    offered += *used;
  }
  EXPECT_EQ(offered, coded.size());
  EXPECT_GT(rounds, 2u);
  while (!decoder.complete() && rounds++ < 2000) ASSERT_TRUE(decoder.decode(nullptr, 0, one));
  EXPECT_TRUE(out == text) << out.size() << " of " << text.size();
  EXPECT_TRUE(decoder.complete());
}
