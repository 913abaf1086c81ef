#pragma once
// Process-wide settings of URL loading that tests (and only tests) change:
// - an extra certificate authority file trusted besides the system store (PEM, may hold several
//   certificates); the environment variable PELORIN_EXTRA_CA_FILE sets it for child processes;
// - a "connect-to" map: a connection to host:port goes to another address and port instead,
//   while the URL, the Host header, cookies and the TLS server name keep the original host, so
//   that "https://accounts.example.test/..." reaches a fake on 127.0.0.1;
// - loopback only: a load to a host that the map does not name and that is not this machine's
//   loopback (localhost, 127.0.0.0/8, ::1) fails at once as a host that cannot be found, with no
//   name lookup, so that a test never reaches a real service. The environment variable
//   PELORIN_TEST_LOOPBACK_ONLY=1 sets it; the tests' shared main sets that variable for every
//   test process and the processes they start.
#include <optional>
#include <string>

namespace ns::URLLoading {

void setExtraCertificateAuthorityFile(std::optional<std::string> path);
std::optional<std::string> extraCertificateAuthorityFile();

// host is compared without case; port 0 in `fromPort` matches every port.
void setConnectTo(const std::string& fromHost, int fromPort, const std::string& toHost, int toPort);
void removeConnectTo(const std::string& fromHost, int fromPort);
void clearConnectTo();
// The address to connect to for host:port, if the map names one.
std::optional<std::pair<std::string, int>> connectToFor(const std::string& host, int port);

// nullopt goes back to what the environment says.
void setLoopbackOnly(std::optional<bool> on);
bool loopbackOnly();
// "localhost" (and names under it), 127.0.0.0/8 and ::1, with or without brackets.
bool isLoopbackHost(const std::string& host);

}  // namespace ns::URLLoading
