// The server seen by an independent client: libcurl.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include "tests/lib/http-server/ServerFixture.h"

namespace httptest {
namespace {

size_t collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

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
  // Fetches a path, optionally with a range; answers the status (0 on a transport failure).
  long fetch(const std::string& path, const char* range, std::string* body, bool head = false) {
    body->clear();
    std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_RANGE, range);
    curl_easy_setopt(curl, CURLOPT_NOBODY, head ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    if (curl_easy_perform(curl) != CURLE_OK) return 0;
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return status;
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
