// A connection class that declares itself secure, seen by an independent TLS client: libcurl.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <mutex>

#include "platform/testing/TestCertificateAuthority.h"
#include "tests/lib/http-server/ServerFixture.h"

namespace httptest {
namespace {

const pltest::TestCertificateAuthority& testCA() {
  static const auto* ca = new pltest::TestCertificateAuthority("HTTP Test CA");
  return *ca;
}

// Secure, presenting what the test sets (nothing: plain HTTP after all).
class SecureConnection : public HTTPConnection {
 public:
  using HTTPConnection::HTTPConnection;
  static void setCertificates(ns::Array value) {
    std::lock_guard lock(mutex);
    certificates = std::move(value);
  }
  bool isSecureServer() override { return true; }
  ns::Array sslIdentityAndCertificates() override {
    std::lock_guard lock(mutex);
    return certificates;
  }

 private:
  // Set by the test thread, read on the connection queue.
  static inline std::mutex mutex;
  static inline ns::Array certificates;
};

size_t collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

class SecureConnectionTest : public ServerFixture {
 protected:
  void TearDown() override {
    SecureConnection::setCertificates({});
    ServerFixture::TearDown();
  }
  // A GET with libcurl; the status, 0 on a transport failure.
  long fetch(const std::string& url, const std::string& caFile, std::string* body) {
    CURL* curl = curl_easy_init();
    EXPECT_NE(curl, nullptr);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    long status = 0;
    if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    return status;
  }
};

TEST_F(SecureConnectionTest, ServesHttpsWithItsIdentityAndPlainHttpWithoutOne) {
  const std::string content = patternBytes(300 * 1024 + 7);
  file("video.mp4", content);
  const std::string caFile = (sandbox.temporaryFolder("ca") / "ca.pem").string();
  writeFile(caFile, testCA().certificatePEM());
  server->setConnectionClass<SecureConnection>();
  startServer();

  struct Case {
    const char* name;
    bool withIdentity;
    const char* scheme;
    long status;  // 0: the exchange fails
  };
  for (const Case& c :
       {Case{"identity, https", true, "https", 200}, Case{"identity, plain http", true, "http", 0},
        Case{"no identity, http", false, "http", 200}}) {
    SCOPED_TRACE(c.name);
    SecureConnection::setCertificates(
        c.withIdentity ? ns::Array{ns::Value(testCA().issueIdentity({"127.0.0.1"}))} : ns::Array{});
    std::string body;
    const std::string url = std::string(c.scheme) + "://127.0.0.1:" + std::to_string(port) + "/video.mp4";
    EXPECT_EQ(fetch(url, caFile, &body), c.status);
    if (c.status == 200) EXPECT_TRUE(body == content) << "the file's bytes";
  }
}

}  // namespace
}  // namespace httptest
