#include <gtest/gtest.h>

#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

using namespace ns;

TEST(URLRequest, DefaultsHeadersAndCopies) {
  auto req = URLRequest::requestWithURL(URL::URLWithString("https://h/x"));
  EXPECT_EQ(req->HTTPMethod(), "GET");
  EXPECT_EQ(req->timeoutInterval(), 60);
  EXPECT_EQ(req->cachePolicy(), URLRequestUseProtocolCachePolicy);
  EXPECT_TRUE(req->HTTPShouldHandleCookies());

  req->setValue_forHTTPHeaderField("a", "X-Thing");
  req->addValue_forHTTPHeaderField("b", "x-thing");
  EXPECT_EQ(req->valueForHTTPHeaderField("X-THING"), "a,b");
  EXPECT_EQ(req->allHTTPHeaderFields().size(), 1u);
  EXPECT_EQ(req->allHTTPHeaderFields().fields()[0].first, "X-Thing") << "the first spelling stays";

  auto copy = req->mutableCopy();
  copy->setHTTPMethod("POST");
  copy->setHTTPBody(Data("body"));
  copy->setValue_forHTTPHeaderField(std::nullopt, "x-thing");
  EXPECT_EQ(req->HTTPMethod(), "GET") << "a copy is independent";
  EXPECT_TRUE(req->valueForHTTPHeaderField("X-Thing"));
  EXPECT_FALSE(copy->valueForHTTPHeaderField("X-Thing"));
  EXPECT_FALSE(req->isEqual(copy.get()));
  EXPECT_TRUE(req->isEqual(req->copy().get()));

  copy->setHTTPBodyStream(std::make_shared<URLRequestBodyStream>());
  EXPECT_FALSE(copy->HTTPBody()) << "a body stream replaces the body";
  copy->setHTTPMethod("");
  EXPECT_EQ(copy->HTTPMethod(), "GET");
}

TEST(HTTPURLResponse, ReadsTypeEncodingLengthAndFileName) {
  auto url = URL::URLWithString("https://h/dir/video.mp4?x=1");
  auto r = HTTPURLResponse::initWithURL_statusCode_HTTPVersion_headerFields(
      url, 200, "HTTP/1.1", {{"Content-Type", "Text/HTML; Charset=\"UTF-8\""}, {"content-length", " 1234 "}});
  EXPECT_EQ(r->MIMEType(), "text/html");
  EXPECT_EQ(r->textEncodingName(), "utf-8");
  EXPECT_EQ(r->expectedContentLength(), 1234);
  EXPECT_EQ(r->suggestedFilename(), "video.mp4");
  EXPECT_EQ(r->valueForHTTPHeaderField("CONTENT-LENGTH"), " 1234 ");

  auto unknown = make<HTTPURLResponse>(url, 200, "HTTP/1.1", HTTPHeaderFields{{"Content-Length", "12x"}});
  EXPECT_EQ(unknown->expectedContentLength(), -1) << "an unreadable length is unknown";
  EXPECT_FALSE(unknown->MIMEType());

  auto disposition = make<HTTPURLResponse>(
      url, 200, "HTTP/1.1",
      HTTPHeaderFields{{"Content-Disposition", "attachment; filename=\"../../etc/passwd\""}});
  EXPECT_EQ(disposition->suggestedFilename(), "passwd") << "a hostile name never names a folder";
  auto root = make<HTTPURLResponse>(URL::URLWithString("https://h/"), 200, "HTTP/1.1", HTTPHeaderFields{});
  EXPECT_EQ(root->suggestedFilename(), "Unknown");

  EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(200), "no error");
  EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(404), "not found");
  EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(418), "client error");
  EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(599), "server error");
}
