// The server seen by an independent client: libcurl.
#include <gtest/gtest.h>

#include "tests/lib/http-server/CurlGet.h"
#include "tests/lib/http-server/ServerFixture.h"

namespace httptest {
namespace {

class CurlClientTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    content = patternBytes(3 * 1024 * 1024 + 5);
    file("video.mp4", content);
    startServer();
    curl = curl_easy_init();
    ASSERT_NE(curl, nullptr);
  }
  void TearDown() override {
    curl_easy_cleanup(curl);
    ServerFixture::TearDown();
  }
  // Fetches a path on the kept handle, optionally with a range; answers the status.
  long fetch(const std::string& path, const char* range, std::string* body, bool head = false) {
    return curlPerform(curl, {.url = urlOf(path), .body = body, .range = range, .head = head});
  }
  std::string content;
  CURL* curl = nullptr;
};

TEST_F(CurlClientTest, WholeFileRangesAndConnectionReuse) {
  std::string body;
  ASSERT_EQ(fetch("/video.mp4", nullptr, &body), 200);
  EXPECT_TRUE(body == content);

  ASSERT_EQ(fetch("/video.mp4", "100-199", &body), 206);
  EXPECT_EQ(body, content.substr(100, 100));
  long connects = -1;
  curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects);
  EXPECT_EQ(connects, 0);  // the kept-alive connection was used again

  ASSERT_EQ(fetch("/video.mp4", "3000000-", &body), 206);
  EXPECT_TRUE(body == content.substr(3000000));

  ASSERT_EQ(fetch("/video.mp4", nullptr, &body, true), 200);
  curl_off_t length = -1;
  curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  EXPECT_EQ(length, static_cast<curl_off_t>(content.size()));

  EXPECT_EQ(fetch("/nothing-here", nullptr, &body), 404);
  EXPECT_EQ(fetch("/%2e%2e/video.mp4", nullptr, &body), 404);
}

}  // namespace
}  // namespace httptest
