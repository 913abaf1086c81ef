#include "tests/support/LaunchEnvironment.h"

#include <fstream>

namespace testsupport {

EnvironmentVariables quietEndpointVariables(const pltest::FakeServer& sink) {
  EnvironmentVariables variables{{"CrashReporting", "0"}, {"CrashSubmission", "0"}};
  for (const char* key : {"PELORIN_VIDEO_SERVICE_URL", "PELORIN_SUGGEST_URL", "PELORIN_GOOGLE_API_URL",
                          "PELORIN_OAUTH_URL", "PELORIN_LEGACY_FEED_URL", "PELORIN_PROFILE_PHOTO_URL",
                          "PELORIN_MAKER_FILES_URL", "CrashReporterAPIEndpoint"})
    variables.emplace_back(key, sink.baseURL());
  variables.emplace_back("PELORIN_MAKER_HOST", "127.0.0.1:" + std::to_string(sink.port()));
  return variables;
}

void quietEndpoints(pltest::Sandbox& sandbox, const pltest::FakeServer& sink) {
  for (const auto& [name, value] : quietEndpointVariables(sink)) sandbox.set(name, value);
}

void trustCertificates(pltest::Sandbox& sandbox, const std::vector<std::string>& authoritiesPEM) {
  const std::string file = sandbox.path("fakes-ca.pem");
  {
    std::ofstream out(file);
    for (const auto& pem : authoritiesPEM) out << pem;
  }
  sandbox.set("PELORIN_EXTRA_CA_FILE", file);
}

}  // namespace testsupport
