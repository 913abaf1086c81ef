#include <gtest/gtest.h>

#include "platform/net/HTTPMessage.h"

using cf::HTTPMessage;

TEST(HTTPMessage, RequestInThreeAppendsIsCompleteOnlyAfterTheBlankLine) {
  auto m = HTTPMessage::createEmpty(true);
  EXPECT_TRUE(m->appendBytes(std::string_view("GET /files/a%20b.txt?x=1 HT")));
  EXPECT_FALSE(m->isHeaderComplete());
  EXPECT_TRUE(m->appendBytes(std::string_view("TP/1.1\r\nHost: example.test\r\nRange: bytes=0-9\r\n")));
  EXPECT_FALSE(m->isHeaderComplete()) << "no blank line yet";
  EXPECT_EQ(m->requestMethod(), "GET");
  EXPECT_TRUE(m->appendBytes(std::string_view("X-Folded: a\r\n  b\r\n\r\nBODY")));
  EXPECT_TRUE(m->isHeaderComplete());
  EXPECT_EQ(m->version(), "HTTP/1.1");
  ASSERT_TRUE(m->requestURL());
  EXPECT_EQ(m->requestURL()->relativeString(), "/files/a%20b.txt?x=1");
  EXPECT_EQ(m->requestURL()->path(), "/files/a b.txt");
  EXPECT_EQ(m->headerFieldValue("range"), "bytes=0-9") << "names match without case";
  EXPECT_EQ(m->headerFieldValue("HOST"), "example.test");
  EXPECT_EQ(m->headerFieldValue("x-folded"), "a b");
  EXPECT_EQ(m->body().toString(), "BODY");
  EXPECT_TRUE(m->appendBytes(std::string_view("MORE")));
  EXPECT_EQ(m->body().toString(), "BODYMORE");
}

TEST(HTTPMessage, RefusesMalformedStartAndFieldLines) {
  for (const char* bad :
       {"GET\r\n\r\n", "GET /x\r\n\r\n", "GET  /x HTTP/1.1\r\n\r\n", "GET /x HTTP/1.1 extra\r\n\r\n",
        "GET /x HTTX/1.1\r\n\r\n", "G(T /x HTTP/1.1\r\n\r\n", "GET /a b HTTP/1.1\r\n\r\n",
        "GET /x HTTP/1.1\r\nNoColonHere\r\n\r\n", "GET /x HTTP/1.1\r\nBad Name: v\r\n\r\n",
        "GET /x HTTP/1.1\r\n folded-first\r\n\r\n"}) {
    auto m = HTTPMessage::createEmpty(true);
    EXPECT_FALSE(m->appendBytes(std::string_view(bad))) << bad;
    EXPECT_FALSE(m->isHeaderComplete()) << bad;
    EXPECT_FALSE(m->appendBytes(std::string_view("\r\n"))) << "stays broken";
  }
  auto huge = HTTPMessage::createEmpty(true);
  EXPECT_TRUE(huge->appendBytes(std::string_view("GET /x HTTP/1.1\r\n")));
  std::string field = "X-Big: " + std::string(HTTPMessage::kMaxHeaderBytes, 'a');
  EXPECT_FALSE(huge->appendBytes(std::string_view(field))) << "an endless header block is refused";

  auto lf = HTTPMessage::createEmpty(true);
  EXPECT_TRUE(lf->appendBytes(std::string_view("\r\nPOST /up HTTP/1.0\nContent-Length: 3\n\nabc")));
  EXPECT_TRUE(lf->isHeaderComplete()) << "bare line feeds and a leading blank line are tolerated";
  EXPECT_EQ(lf->version(), "HTTP/1.0");
  EXPECT_EQ(lf->body().toString(), "abc");
}

TEST(HTTPMessage, ResponsesSerialiseWithStandardPhrases) {
  auto r = HTTPMessage::createResponse(404, std::nullopt);
  r->setHeaderFieldValue("Content-Length", "2");
  r->setHeaderFieldValue("content-length", "3");
  r->setHeaderFieldValue("X-Gone", "1");
  r->setHeaderFieldValue("x-gone", std::nullopt);
  r->setBody(ns::Data("abc"));
  EXPECT_EQ(r->serializedMessage().toString(), "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nabc");
  EXPECT_EQ(HTTPMessage::createResponse(206, std::nullopt)->responseStatusLine(),
            "HTTP/1.1 206 Partial Content");
  EXPECT_EQ(HTTPMessage::createResponse(299, "Odd")->responseStatusLine(), "HTTP/1.1 299 Odd");

  auto parsed = HTTPMessage::createEmpty(false);
  EXPECT_TRUE(
      parsed->appendBytes(std::string_view("HTTP/1.0 301 Moved Permanently\r\nLocation: /b\r\n\r\n")));
  EXPECT_EQ(parsed->responseStatusCode(), 301);
  EXPECT_EQ(parsed->headerFieldValue("location"), "/b");
  EXPECT_FALSE(HTTPMessage::createEmpty(false)->appendBytes(std::string_view("HTTP/1.1 2000 OK\r\n")));

  auto req = HTTPMessage::createRequest("PUT", ns::URL::URLWithString("http://example.test/a?b=1"));
  req->setHeaderFieldValue("Host", "example.test");
  EXPECT_EQ(req->serializedMessage().toString(), "PUT /a?b=1 HTTP/1.1\r\nHost: example.test\r\n\r\n");
  EXPECT_FALSE(HTTPMessage::createRequest("GET", nullptr));
}
