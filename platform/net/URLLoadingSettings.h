#pragma once
// Process-wide settings of URL loading that tests (and only tests) change:
// - an extra certificate authority file trusted besides the system store (PEM, may hold several
//   certificates); the environment variable PELORIN_EXTRA_CA_FILE sets it for child processes;
// - a "connect-to" map: a connection to host:port goes to another address and port instead,
//   while the URL, the Host header, cookies and the TLS server name keep the original host, so
//   that "https://accounts.example.test/..." reaches a fake on 127.0.0.1.
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

}  // namespace ns::URLLoading
