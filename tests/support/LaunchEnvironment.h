#pragma once
// The environment the real `pelorin` is started in by tests and benches: every remote endpoint at
// a loopback sink, crash capture off, and the fakes' certificate authorities trusted.
#include <string>
#include <utility>
#include <vector>

#include "platform/testing/FakeServer.h"
#include "platform/testing/Sandbox.h"

namespace testsupport {

using EnvironmentVariables = std::vector<std::pair<std::string, std::string>>;

// Every remote endpoint at `sink`, crash capture and crash submission off.
EnvironmentVariables quietEndpointVariables(const pltest::FakeServer& sink);

// The same, set in the sandbox's environment for the children started meanwhile.
void quietEndpoints(pltest::Sandbox& sandbox, const pltest::FakeServer& sink);

// A file of these certificate authorities (PEM) in the sandbox, named by PELORIN_EXTRA_CA_FILE so
// that the child's TLS trusts the fakes that hold them.
void trustCertificates(pltest::Sandbox& sandbox, const std::vector<std::string>& authoritiesPEM);

}  // namespace testsupport
