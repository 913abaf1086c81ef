// One environment variable names the extra trusted authority for every part of the process: URL
// loading and the trust evaluation of sec::Trust. Both read it once, so the check runs in a child
// process started with the variable set.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "platform/net/URLConnection.h"
#include "platform/security/Trust.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Files.h"
#include "platform/testing/Sandbox.h"

TEST(ExtraCertificateAuthorityChild, DISABLED_TrustedByLoadingAndByTrust) {
  const char* file = std::getenv("PELORIN_EXTRA_CA_FILE");
  const char* url = std::getenv("PELORIN_TEST_TRUSTED_URL");
  ASSERT_TRUE(file && url);

  auto ca = sec::Certificate::certificatesWithPEM(pltest::readFile(file));
  ASSERT_EQ(ca.size(), 1u);
  sec::Trust trust({ca[0]}, std::nullopt);
  sec::SecTrustResultType result = sec::kSecTrustResultInvalid;
  ASSERT_EQ(trust.evaluate(&result), sec::errSecSuccess);
  EXPECT_TRUE(result == sec::kSecTrustResultProceed || result == sec::kSecTrustResultUnspecified)
      << "sec::Trust does not trust the authority, verdict " << result;

  ns::Ref<ns::URLResponse> response;
  ns::Error error;
  auto data = ns::URLConnection::sendSynchronousRequest_returningResponse_error(
      ns::URLRequest::requestWithURL(ns::URL::URLWithString(url)), &response, &error);
  ASSERT_TRUE(data) << "URL loading does not trust the authority: " << error.code();
  EXPECT_EQ(data->toString(), "trusted");
}

TEST(ExtraCertificateAuthority, OneVariableServesLoadingAndTrust) {
  pltest::Sandbox sandbox;
  pltest::FakeServer server({.https = true});
  server.canned("GET", "/ca", pltest::FakeReply::text(200, "trusted"));
  sandbox.set("PELORIN_EXTRA_CA_FILE", server.caCertificateFile());
  sandbox.set("PELORIN_TEST_TRUSTED_URL", server.URLForPath("/ca"));
  int status = pltest::runChildTest("ExtraCertificateAuthorityChild.DISABLED_TrustedByLoadingAndByTrust");
  ASSERT_TRUE(status != -1 && WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(server.requestCount(), 1u);
}
