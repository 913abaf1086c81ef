// The multipart/form-data parser and part headers, fed whole and in every split.
#include <gtest/gtest.h>

#include "lib/http-server/Core/Mime/MultipartFormDataParser.h"
#include "tests/lib/http-server/ServerTestSupport.h"

namespace httptest {
namespace {

// Records the callbacks as text; content pieces of one part are joined, since how a part is
// split into pieces depends on how the body arrives.
class Recorder : public MultipartFormDataParserDelegate {
 public:
  void processPreambleData(const ns::Data& data) override { add("preamble", data.toString()); }
  void processStartOfPartWithHeader(const ns::Ref<MultipartMessageHeader>& header) override {
    std::string text;
    for (const auto& [name, field] : header->fields()) {
      text += name + "=" + field->value();
      for (const auto& [k, v] : field->params()) text += ";" + k + "=" + v;
      text += "|";
    }
    events.push_back("start " + text);
  }
  void processContent_WithHeader(const ns::Data& data, const ns::Ref<MultipartMessageHeader>&) override {
    add("content", data.toString());
  }
  void processEndOfPartWithHeader(const ns::Ref<MultipartMessageHeader>&) override {
    events.push_back("end");
  }
  void processEpilogueData(const ns::Data& data) override { add("epilogue", data.toString()); }
  std::vector<std::string> events;

 private:
  void add(const std::string& kind, const std::string& bytes) {
    if (!events.empty() && events.back().rfind(kind + " ", 0) == 0)
      events.back() += bytes;
    else
      events.push_back(kind + " " + bytes);
  }
};

// Feeds `body` cut at `cuts` and answers the callbacks.
std::vector<std::string> parse(const std::string& body, const std::vector<std::size_t>& cuts,
                               bool* ok = nullptr) {
  auto recorder = std::make_shared<Recorder>();
  auto parser = MultipartFormDataParser::initWithBoundary_formEncoding("XyZ", FormEncoding::UTF8);
  parser->setDelegate(recorder);
  std::size_t from = 0;
  bool all = true;
  for (std::size_t cut : cuts) {
    all = parser->appendData(ns::Data(body.substr(from, cut - from))) && all;
    from = cut;
  }
  all = parser->appendData(ns::Data(body.substr(from))) && all;
  if (ok) *ok = all;
  return recorder->events;
}

std::string twoPartBody(const std::string& file) {
  return "preamble text\r\n--XyZ\r\n"
         "Content-Disposition: form-data; name=\"field\"\r\n\r\n"
         "value\r\n--XyZ\r\n"
         "Content-Disposition: form-data; name=\"file\"; filename=\"a b.txt\"\r\n"
         "Content-Type: application/octet-stream\r\n\r\n" +
         file + "\r\n--XyZ--\r\nthe epilogue";
}

TEST(MultipartParserTest, WholeBodyCallbacks) {
  std::string file = patternBytes(3 * 1024);
  auto events = parse(twoPartBody(file), {});
  std::vector<std::string> expected = {
      "preamble preamble text\r\n",
      "start Content-Disposition=form-data;name=field|",
      "content value",
      "end",
      "start Content-Disposition=form-data;filename=a b.txt;name=file|Content-Type=application/octet-stream|",
      "content " + file,
      "end",
      "epilogue the epilogue",
  };
  ASSERT_EQ(events.size(), expected.size());
  for (std::size_t i = 0; i < events.size(); ++i) EXPECT_TRUE(events[i] == expected[i]) << "event " << i;
}

TEST(MultipartParserTest, EverySplitGivesTheSameCallbacks) {
  std::string body = twoPartBody(patternBytes(3 * 1024));
  auto whole = parse(body, {});
  for (std::size_t cut = 0; cut <= body.size(); ++cut)
    ASSERT_TRUE(parse(body, {cut}) == whole) << "cut at " << cut;

  std::string shortBody =
      "--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n12\r\n--XyZ\r\n\r\n\r\n\r\n--XyZ--\r\nE";
  auto shortWhole = parse(shortBody, {});
  ASSERT_EQ(shortWhole,
            (std::vector<std::string>{"start Content-Disposition=form-data;name=a|", "content 12", "end",
                                      "start Content-Type=text/plain|", "content ", "end", "epilogue E"}));
  for (std::size_t a = 0; a <= shortBody.size(); ++a)
    for (std::size_t b = a; b <= shortBody.size(); ++b)
      ASSERT_EQ(parse(shortBody, {a, b}), shortWhole) << "cuts at " << a << ", " << b;
}

TEST(MultipartParserTest, EpilogueOnLaterPiecesAndUnfinishedBodies) {
  auto events = parse("--XyZ\r\nA: b\r\n\r\nabc\r\n--XyZ--\r\nmore", {27, 30});
  EXPECT_EQ(events, (std::vector<std::string>{"start A=b|", "content abc", "end", "epilogue more"}));
  // No closing boundary: the part never ends.
  events = parse("--XyZ\r\nA: b\r\n\r\nabc and no end", {});
  EXPECT_EQ(events, (std::vector<std::string>{"start A=b|", "content abc and"}));
  EXPECT_FALSE(MultipartFormDataParser::initWithBoundary_formEncoding(std::nullopt, FormEncoding::UTF8));
}

TEST(MultipartParserTest, PartHeadersUpToTheLimitParseAndLongerOnesAreRefused) {
  const std::size_t limit = MultipartFormDataParser::MAX_PART_HEADER_LENGTH;
  auto bodyWithHeader = [](std::size_t headerLength) {
    std::string field = "X: ";
    std::string header = field + std::string(headerLength - field.size() - 2, 'v') + "\r\n";
    return "--XyZ\r\n" + header + "\r\nabc\r\n--XyZ--\r\nE";
  };
  // Whole, in pieces of 1, 7 and 4096 bytes: a header of exactly the limit is read.
  std::string fits = bodyWithHeader(limit);
  std::vector<std::string> expected = {"start X=" + std::string(limit - 5, 'v') + "|", "content abc", "end",
                                       "epilogue E"};
  for (std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
    std::vector<std::size_t> cuts;
    for (std::size_t at = piece; piece && at < fits.size(); at += piece) cuts.push_back(at);
    bool ok = false;
    EXPECT_EQ(parse(fits, cuts, &ok), expected) << piece;
    EXPECT_TRUE(ok) << piece;
    // One byte more is malformed, however it arrives; nothing of that part is reported.
    std::string tooLong = bodyWithHeader(limit + 1);
    cuts.clear();
    for (std::size_t at = piece; piece && at < tooLong.size(); at += piece) cuts.push_back(at);
    EXPECT_TRUE(parse(tooLong, cuts, &ok).empty()) << piece;
    EXPECT_FALSE(ok) << piece;
  }
}

TEST(MultipartParserTest, AHeaderThatNeverEndsIsRefusedOnceItPassesTheLimitAndStaysRefused) {
  auto recorder = std::make_shared<Recorder>();
  auto parser = MultipartFormDataParser::initWithBoundary_formEncoding("XyZ", FormEncoding::UTF8);
  parser->setDelegate(recorder);
  ASSERT_TRUE(parser->appendData(ns::Data(std::string("--XyZ\r\nX: "))));
  // Pieces that end in parts of the blank line still do not end the header.
  std::size_t fed = 10;
  std::size_t refusedAt = 0;
  for (int i = 0; i < 1024 && !refusedAt; ++i) {
    std::string piece = std::string(61, 'h') + (i % 2 ? "\r\n\r" : "\r\n");
    fed += piece.size();
    if (!parser->appendData(ns::Data(piece))) refusedAt = fed;
  }
  EXPECT_GT(refusedAt, MultipartFormDataParser::MAX_PART_HEADER_LENGTH);
  EXPECT_LT(refusedAt, MultipartFormDataParser::MAX_PART_HEADER_LENGTH + 80);
  // The rest of the body, however well formed, is refused too.
  EXPECT_FALSE(parser->appendData(ns::Data(std::string("\r\n\r\nabc\r\n--XyZ--\r\n"))));
  EXPECT_TRUE(recorder->events.empty());
}

TEST(MultipartHeaderTest, Fields) {
  struct Case {
    std::string header;
    std::string expected;  // name=value;params| for each field, by name
  } cases[] = {
      {"Content-Disposition: form-data; name=\"file\"; filename=\"a b.txt\"\r\n",
       "Content-Disposition=form-data;filename=a b.txt;name=file|"},
      {"A: 1\r\nB: 2; x=y\r\n", "A=1|B=2;x=y|"},
      {"no colon here\r\n", "Content-Type=text/plain|"},
      {"A: v; k=1; k=2\r\n", "A=v;k=2|"},
      {"A: v; ;k=1\r\n", "Content-Type=text/plain|"},
      {"A: folded\r\n more\r\n", "A=folded\r\n more|"},
      {"A: v; q=\"\r\n", "A=v;q=|"},
      {"A: v; e=\"a\\\"b\\\\c\"\r\n", "A=v;e=a\"b\\c|"},
      {"A: v; k=1=2\r\n", "Content-Type=text/plain|"},
      {"A: \xff\xfe\r\n", "Content-Type=text/plain|"},
      {"A:\r\n", "Content-Type=text/plain|"},
  };
  for (const auto& c : cases) {
    auto header = MultipartMessageHeader::initWithData_formEncoding(ns::Data(c.header), FormEncoding::UTF8);
    std::string text;
    for (const auto& [name, field] : header->fields()) {
      text += name + "=" + field->value();
      for (const auto& [k, v] : field->params()) text += ";" + k + "=" + v;
      text += "|";
    }
    EXPECT_EQ(text, c.expected) << c.header;
  }
  auto latin = MultipartMessageHeader::initWithData_formEncoding(ns::Data(std::string("A: caf\xe9\r\n")),
                                                                 FormEncoding::ISOLatin1);
  EXPECT_EQ(latin->fields().at("A")->value(), "caf\xc3\xa9");
}

TEST(MultipartHeaderTest, QuotedPrintable) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a=3Db", "a=b"},   {"soft=\r\nbreak", "softbreak"}, {"x=\rY", "xY"},    {"end=", "end="},
      {"end=4", "end=4"}, {"=zz", std::string(1, '\0')},   {"plain", "plain"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MultipartFormDataParser::decodedDataFromQuotedPrintableData(ns::Data(c.in)).toString(), c.out)
        << c.in;
  EXPECT_EQ(MultipartFormDataParser::numberOfBytesToLeavePendingWithData_length_encoding(
                ns::Data(std::string("ab=4")), 4, MultipartContentTransferEncodingQuotedPrintable),
            2);
  EXPECT_EQ(
      MultipartFormDataParser::offsetTillNewlineSinceOffset_inData(0, ns::Data(std::string("ab\r\ncd"))), 4);
  EXPECT_EQ(
      MultipartFormDataParser::offsetTillNewlineSinceOffset_inData(5, ns::Data(std::string("ab\r\ncd"))), -1);
}

}  // namespace
}  // namespace httptest
