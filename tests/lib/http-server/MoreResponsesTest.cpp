// Data, template and redirect responses, served through a connection subclass.
#include <gtest/gtest.h>

#include "lib/http-server/Core/Responses/HTTPDataResponse.h"
#include "lib/http-server/Core/Responses/HTTPDynamicFileResponse.h"
#include "lib/http-server/Core/Responses/HTTPRedirectResponse.h"
#include "tests/lib/http-server/CurlGet.h"
#include "tests/lib/http-server/ServerFixture.h"
#include "tests/lib/http-server/TestConnection.h"

namespace httptest {
namespace {

class MoreResponsesTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    TestHooks::install(server, hooks);
    hooks->route = [this](TestConnection& connection, const std::string&,
                          const std::string& path) -> ns::Ref<HTTPResponse> {
      if (path == "/data") return HTTPDataResponse::initWithData(ns::Data(std::string("0123456789")));
      if (path == "/moved") return HTTPRedirectResponse::initWithPath("/elsewhere?a=1");
      if (path.rfind("/t/", 0) == 0)
        return HTTPDynamicFileResponse::initWithFilePath_forConnection_separator_replacementDictionary(
            (root / path.substr(3)).string(), connection.self<HTTPConnection>(), "%%", replacements);
      return nullptr;
    };
    startServer();
  }
  // GET through libcurl, which undoes the chunked coding; answers the status.
  long get(const std::string& path, std::string* body) { return curlGet({.url = urlOf(path), .body = body}); }
  std::shared_ptr<TestHooks> hooks = std::make_shared<TestHooks>();
  ns::Dictionary replacements;
};

TEST(DataResponseTest, ReadsInPiecesAndSharesTheBuffer) {
  ns::Data bytes(std::string("0123456789"));
  auto response = HTTPDataResponse::initWithData(bytes);
  EXPECT_EQ(response->contentLength(), 10u);
  std::vector<std::string> pieces;
  while (!response->isDone()) pieces.push_back(response->readDataOfLength(4)->toString());
  EXPECT_EQ(pieces, (std::vector<std::string>{"0123", "4567", "89"}));
  response->setOffset(2);
  auto piece = response->readDataOfLength(3);
  EXPECT_EQ(piece->toString(), "234");
  EXPECT_EQ(piece->bytes(), bytes.bytes() + 2);  // a view, not a copy
  response->setOffset(50);
  EXPECT_TRUE(response->readDataOfLength(4)->empty());
}

TEST_F(MoreResponsesTest, DataAndRedirectOnTheWire) {
  auto r = exchangeOnce(GET("/data", "Range: bytes=2-4\r\n"));
  ASSERT_EQ(statusOf(r), 206);
  EXPECT_EQ(r->body, "234");
  r = exchangeOnce(GET("/moved"));
  ASSERT_EQ(statusOf(r), 302);
  EXPECT_EQ(r->header("Location"), "/elsewhere?a=1");
  EXPECT_EQ(r->header("Content-Length"), "0");
  EXPECT_EQ(r->body, "");
}

TEST_F(MoreResponsesTest, TemplatesReplaceKnownKeys) {
  replacements.setObject_forKey(ns::Value("xyz"), ns::Value("name"));
  replacements.setObject_forKey(ns::Value(std::string(600, 'L')), ns::Value("long"));
  replacements.setObject_forKey(ns::Value(42), ns::Value("n"));
  struct Case {
    std::string file;
    std::string expected;
  } cases[] = {
      {"a%%name%%b", "axyzb"},
      {"a%%other%%b", "a%%other%%b"},
      {"%%n%%%%name%%", "42xyz"},
      {"[%%long%%]", "[" + std::string(600, 'L') + "]"},
      {"no keys at all", "no keys at all"},
      {"", ""},
      {"a%%name", "a%%name"},
  };
  int i = 0;
  for (const auto& c : cases) {
    std::string name = "t" + std::to_string(i++) + ".html";
    file(name, c.file);
    RawClient& client = connect();
    auto r = exchange(client, GET("/t/" + name), false);
    ASSERT_TRUE(r) << c.file;
    EXPECT_EQ(r->header("Transfer-Encoding"), "chunked");
    std::string body;
    EXPECT_EQ(get("/t/" + name, &body), 200);
    EXPECT_EQ(body, c.expected) << c.file;
  }
}

TEST_F(MoreResponsesTest, LargeTemplatesAcrossReads) {
  replacements.setObject_forKey(ns::Value("xyz"), ns::Value("name"));
  const std::size_t size = 1024 * 1024;
  // Keys around every power-of-two boundary from 64 KiB on, so that one straddles a read.
  std::string text(size, '.');
  std::string expected;
  std::size_t last = 0;
  for (std::size_t at = 65536; at + 16 < size; at *= 2) {
    text.replace(at - 5, 10, "%%name%%!!");
    expected += text.substr(last, at - 5 - last) + "xyz!!";
    last = at + 5;
  }
  expected += text.substr(last);
  file("big.html", text);
  std::string body;
  ASSERT_EQ(get("/t/big.html", &body), 200);
  EXPECT_EQ(body.size(), expected.size());
  EXPECT_TRUE(body == expected);

  // An opening separator that never closes arrives as text and does not hold the rest back.
  std::string unclosed = "start %%" + std::string(size, 'u') + " end";
  file("open.html", unclosed);
  ASSERT_EQ(get("/t/open.html", &body), 200);
  EXPECT_EQ(body.size(), unclosed.size());
  EXPECT_TRUE(body == unclosed);
}

}  // namespace
}  // namespace httptest
