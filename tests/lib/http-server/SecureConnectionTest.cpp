// A connection class that declares itself secure, seen by an independent TLS client: libcurl.
#include <gtest/gtest.h>

#include <mutex>

#include "platform/testing/TestCertificateAuthority.h"
#include "tests/lib/http-server/CurlGet.h"
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

class SecureConnectionTest : public ServerFixture {
 protected:
  void TearDown() override {
    SecureConnection::setCertificates({});
    ServerFixture::TearDown();
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
    EXPECT_EQ(curlGet({.url = urlOf("/video.mp4", c.scheme), .body = &body, .caFile = caFile}), c.status);
    if (c.status == 200) {
      EXPECT_TRUE(body == content) << "the file's bytes";
    }
  }
}

}  // namespace
}  // namespace httptest
