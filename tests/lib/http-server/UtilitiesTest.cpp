// Byte ranges, the Range header, numbers, digests, configuration and messages.
#include <gtest/gtest.h>

#include <cstdlib>

#include "lib/http-server/Core/ByteRange.h"
#include "lib/http-server/Core/DataDigests.h"
#include "lib/http-server/Core/HTTPConfig.h"
#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPMessage.h"
#include "lib/http-server/Core/NumberParsing.h"
#include "platform/dispatch/Queue.h"

namespace {

TEST(ByteRangeTest, UnionIntersectionOrderDescriptionAndParse) {
  EXPECT_EQ(ByteRangeUnion({10, 5}, {30, 5}), (ByteRange{10, 25}));  // the gap is included
  EXPECT_EQ(ByteRangeIntersection({0, 10}, {5, 10}), (ByteRange{5, 5}));
  EXPECT_EQ(ByteRangeIntersection({0, 10}, {10, 5}).length, 0u);  // touching
  EXPECT_EQ(ByteRangeIntersection({0, 10}, {11, 5}), (ByteRange{0, 0}));
  ByteRange a{5, 1}, b{5, 2}, c{6, 0};
  EXPECT_EQ(ByteRangeOrder(&a, &b), -1);
  EXPECT_EQ(ByteRangeOrder(&c, &b), 1);
  EXPECT_EQ(ByteRangeOrder(&a, &a), 0);
  EXPECT_EQ(ByteRangeDescription({3, 40}), "{3, 40}");
  EXPECT_EQ(ByteRangeParse("{3, 40}"), (ByteRange{3, 40}));
  EXPECT_EQ(ByteRangeParse("x7"), (ByteRange{7, 0}));
}

// The Range header against a body of 10000 bytes.
class RangeHeaderTest : public ::testing::Test {
 protected:
  ns::Ref<HTTPConnection> connection = ns::make<HTTPConnection>(
      nullptr, HTTPConfig::initWithServer_documentRoot(ns::Weak<HTTPServer>(), std::nullopt));
  // Parses on the connection queue, which owns the connection's ranges.
  std::optional<std::vector<ByteRange>> parse(const std::string& header, std::uint64_t length = 10000) {
    std::optional<std::vector<ByteRange>> result;
    dispatch::sync(connection->connectionQueue(), [&] {
      if (connection->parseRangeRequest_withContentLength(header, length))
        result = connection->ranges();
      else
        EXPECT_TRUE(connection->ranges().empty()) << header;
    });
    return result;
  }
};

TEST_F(RangeHeaderTest, AcceptedForms) {
  using R = std::vector<ByteRange>;
  EXPECT_EQ(parse("bytes=0-499"), (R{{0, 500}}));
  EXPECT_EQ(parse("bytes=9500-"), (R{{9500, 500}}));
  EXPECT_EQ(parse("bytes=-500"), (R{{9500, 500}}));
  EXPECT_EQ(parse("bytes=0-0,-1"), (R{{0, 1}, {9999, 1}}));
  EXPECT_EQ(parse("bytes=500-600,601-999"), (R{{500, 101}, {601, 399}}));
  EXPECT_EQ(parse("bytes=42"), (R{{42, 1}}));
  EXPECT_EQ(parse("BYTES = 0-9"), (R{{0, 10}}));
  EXPECT_EQ(parse("bytes=500-599,0-99"), (R{{0, 100}, {500, 100}}));  // sorted by start
  EXPECT_EQ(parse("bytes=0-9,10-19"), (R{{0, 10}, {10, 10}}));        // touching is fine
}

TEST_F(RangeHeaderTest, RejectedForms) {
  for (const char* header : {"bytes=500-700,601-999", "bytes=9500-10000", "bytes=-10001", "items=0-9",
                             "bytes 0-9", "bytes=", "bytes=abc", "bytes=10000", "bytes=20-10", "bytes=0-9,x"})
    EXPECT_FALSE(parse(header)) << header;
}

TEST_F(RangeHeaderTest, EmptySuffixRangeIsRefusedSoNothingWaitsForBytesThatNeverCome) {
  EXPECT_FALSE(parse("bytes=-0"));
  EXPECT_FALSE(parse("bytes=0-9,-0"));
  EXPECT_FALSE(parse("bytes=-0", 0));
  // A refusal after an acceptance leaves no stale ranges behind.
  ASSERT_TRUE(parse("bytes=0-9"));
  EXPECT_FALSE(parse("bytes=-0"));
}

// "bytes=0-0,2-2,4-4,..." naming `count` one-byte ranges that neither overlap nor touch.
std::string manyRanges(std::size_t count) {
  std::string header = "bytes=";
  for (std::size_t i = 0; i < count; ++i)
    header += (i ? "," : "") + std::to_string(2 * i) + "-" + std::to_string(2 * i);
  return header;
}

TEST_F(RangeHeaderTest, TooManyRangesRefuseTheWholeHeaderAtOnce) {
  auto hundred = parse(manyRanges(HTTPConnection::MAX_RANGES), 1000000);
  ASSERT_TRUE(hundred);
  EXPECT_EQ(hundred->size(), HTTPConnection::MAX_RANGES);
  EXPECT_EQ(hundred->back(), (ByteRange{198, 1}));
  EXPECT_FALSE(parse(manyRanges(HTTPConnection::MAX_RANGES + 1), 1000000));
  // As many ranges as a request of a hundred header lines can carry: refused without first
  // comparing every pair of them.
  EXPECT_FALSE(parse(manyRanges(117000), 1000000));
}

TEST_F(RangeHeaderTest, OverlapsAreFoundWhereverTheyAreInTheList) {
  // Overlapping ranges far apart in the header, once sorted next to each other.
  std::string header = manyRanges(50) + ",51-51,1000-1999,41-41";
  EXPECT_TRUE(parse(header, 10000));
  EXPECT_FALSE(parse(header + ",1500-1500", 10000));
  EXPECT_FALSE(parse("bytes=0-99,200-299,50-50", 10000));
  EXPECT_FALSE(parse("bytes=200-299,0-1000", 10000));  // one range covers another
}

TEST(NumberParsingTest, DecimalTables) {
  std::uint64_t u = 99;
  EXPECT_TRUE(NumberParsing::parseString_intoUInt64("123", &u));
  EXPECT_EQ(u, 123u);
  EXPECT_TRUE(NumberParsing::parseString_intoUInt64(" 42", &u));
  EXPECT_EQ(u, 42u);
  EXPECT_TRUE(NumberParsing::parseString_intoUInt64("7abc", &u));
  EXPECT_EQ(u, 7u);
  EXPECT_TRUE(NumberParsing::parseString_intoUInt64("18446744073709551615", &u));
  EXPECT_EQ(u, UINT64_MAX);
  for (const char* bad : {"", "abc", "18446744073709551616", "99999999999999999999999", "-", " +"})
    EXPECT_FALSE(NumberParsing::parseString_intoUInt64(bad, &u)) << bad;
  EXPECT_FALSE(NumberParsing::parseString_intoUInt64(std::nullopt, &u));
  EXPECT_EQ(u, 0u);
  // The unsigned conversion wraps a negative value, as the platform's does.
  EXPECT_TRUE(NumberParsing::parseString_intoUInt64("-1", &u));
  EXPECT_EQ(u, UINT64_MAX);

  std::int64_t s = 0;
  EXPECT_TRUE(NumberParsing::parseString_intoSInt64("-9223372036854775808", &s));
  EXPECT_EQ(s, INT64_MIN);
  EXPECT_FALSE(NumberParsing::parseString_intoSInt64("9223372036854775808", &s));
  EXPECT_TRUE(NumberParsing::parseString_intoSInt64("+17x", &s));
  EXPECT_EQ(s, 17);
  long l = 0;
  unsigned long ul = 0;
  EXPECT_TRUE(NumberParsing::parseString_intoNSInteger("-5", &l));
  EXPECT_EQ(l, -5);
  EXPECT_TRUE(NumberParsing::parseString_intoNSUInteger("5", &ul));
  EXPECT_EQ(ul, 5u);
}

TEST(DataDigestsTest, HexDigestsAndBase64) {
  const std::uint8_t bytes[] = {0x00, 0xab, 0xff};
  EXPECT_EQ(DataDigests::hexStringValue(ns::Data(bytes, 3)), "00abff");
  EXPECT_EQ(DataDigests::hexStringValue(DataDigests::md5Digest(ns::Data())),
            "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(DataDigests::hexStringValue(DataDigests::sha1Digest(ns::Data("abc"))),
            "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(DataDigests::base64Encoded(ns::Data("abc")), "YWJj");
  EXPECT_EQ(DataDigests::base64Encoded(ns::Data("ab")), "YWI=");
  EXPECT_EQ(DataDigests::base64Encoded(ns::Data("a")), "YQ==");
  EXPECT_EQ(DataDigests::base64Encoded(ns::Data()), "");
  EXPECT_EQ(DataDigests::base64Decoded(ns::Data("YW Jj\n")).toString(), "abc");
  EXPECT_EQ(DataDigests::base64Decoded(ns::Data("YQ==")).toString(), "a");
  EXPECT_EQ(DataDigests::base64Decoded(ns::Data("YWI=junk")).toString(), "ab");
  // Every byte value survives the round trip.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(DataDigests::base64Decoded(ns::Data(DataDigests::base64Encoded(ns::Data(all)))).toString(), all);
}

TEST(HTTPConfigTest, DocumentRootStandardisation) {
  auto queue = dispatch::queueCreate("test");
  auto root = [&](const std::optional<std::string>& given) {
    return HTTPConfig::initWithServer_documentRoot_queue(ns::Weak<HTTPServer>(), given, queue)
        ->documentRoot();
  };
  EXPECT_EQ(root("/srv/www/./media/"), "/srv/www/media");
  EXPECT_EQ(root("/srv//www/../cache"), "/srv/cache");
  EXPECT_EQ(root("/.."), "//");
  EXPECT_EQ(root("/"), "//");
  EXPECT_EQ(root(std::nullopt), std::nullopt);
  const char* home = std::getenv("HOME");
  ASSERT_NE(home, nullptr);
  EXPECT_EQ(root("~/Movies/"), std::string(home) + "/Movies");
  // The two-argument form keeps the root as given and has no queue.
  auto plain = HTTPConfig::initWithServer_documentRoot(ns::Weak<HTTPServer>(), "/a/./b/");
  EXPECT_EQ(plain->documentRoot(), "/a/./b/");
  EXPECT_EQ(plain->queue(), nullptr);
}

TEST(HTTPMessageTest, ParsesRequestsAndSerialisesResponses) {
  auto request = HTTPMessage::initEmptyRequest();
  ASSERT_TRUE(request->appendData(ns::Data("GET /a%20b?x=1 HTTP/1.1\r\n")));
  EXPECT_FALSE(request->isHeaderComplete());
  ASSERT_TRUE(request->appendData(ns::Data("Range: bytes=0-1\r\nHost: h\r\n\r\n")));
  ASSERT_TRUE(request->isHeaderComplete());
  EXPECT_EQ(request->method(), "GET");
  EXPECT_EQ(request->version(), "HTTP/1.1");
  EXPECT_EQ(request->url()->relativeString(), "/a%20b?x=1");
  EXPECT_EQ(request->headerField("range"), "bytes=0-1");

  auto response =
      HTTPMessage::initResponseWithStatusCode_description_version(404, std::nullopt, HTTPVersion1_1);
  response->setHeaderField_value("Content-Length", "0");
  EXPECT_EQ(response->messageData().toString(), "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
}

TEST(HTTPMessageTest, RefusesWhatCouldBeReadTwoWays) {
  auto refuses = [](const std::string& head) {
    auto request = HTTPMessage::initEmptyRequest();
    return !request->appendData(ns::Data(head));
  };
  EXPECT_TRUE(refuses("GET /x\r\n"));                               // no version
  EXPECT_TRUE(refuses("GET /x HTTP/1.1\r\nNoColonHere\r\n"));       // field without colon
  EXPECT_TRUE(refuses("GET /x HTTP/1.1\r\nA: b\r\n  folded\r\n"));  // folded line
  EXPECT_TRUE(refuses("POST /x HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 7\r\n"));
  EXPECT_FALSE(refuses("POST /x HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n"));
  // Once refused, the message stays refused.
  auto request = HTTPMessage::initEmptyRequest();
  EXPECT_FALSE(request->appendData(ns::Data("BAD\r\n")));
  EXPECT_FALSE(request->appendData(ns::Data("GET / HTTP/1.1\r\n")));
}

}  // namespace
