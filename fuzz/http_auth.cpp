// The Authorization header of requests for a protected path of the embedded server, over a real
// loopback connection. The first byte picks the scheme the server asks for: 'B' Basic, anything
// else Digest. The rest is the header's value; every "NONCE" in it becomes a nonce the server
// issued, so that Digest headers get past the nonce check. Every request gets 200 (only with the
// right credentials), 401 or 400, and its connection ends.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "fuzz/Loopback.h"
#include "lib/http-server/Core/HTTPAuthenticationRequest.h"
#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "lib/http-server/Core/HTTPServerNotifications.h"
#include "lib/http-server/Core/Responses/HTTPDataResponse.h"
#include "platform/security/LibraryExit.h"

namespace {

constexpr char kPassword[] = "s3cret";

template <bool Basic>
class ProtectedConnection : public HTTPConnection {
 public:
  using HTTPConnection::HTTPConnection;
  bool isPasswordProtected(const std::string&) override { return true; }
  bool useDigestAccessAuthentication() override { return !Basic; }
  std::string realm() override { return "fuzz"; }
  std::optional<std::string> passwordForUser(const std::string& user) override {
    if (user == "pelorin") return std::string(kPassword);
    return std::nullopt;
  }
  ns::Ref<HTTPResponse> httpResponseForMethod_URI(const std::string&, const std::string&) override {
    return HTTPDataResponse::initWithData(ns::Data(std::string("inside")));
  }
};

struct Server {
  ns::Ref<HTTPServer> server = ns::make<HTTPServer>();
  std::uint16_t port = 0;

  template <class Connection>
  void start() {
    server->setConnectionClass<Connection>();
    server->setInterface("127.0.0.1");
    ns::Error error;
    if (!server->start(&error)) fuzz::fail("the server does not start: " + error.description());
    port = server->listeningPort();
  }
  ~Server() { server->stop(); }
};

struct Servers {
  fuzz::DeathCounter deaths{HTTPConnectionDidDieNotification};
  std::size_t conversations = 0;
  Server basic;
  Server digest;
  std::string nonce;
  std::size_t nonceUses = 0;

  Servers() {
    // The servers' threads still hold the TLS library's per-thread state when the replay ends,
    // and its exit-time clean-up then races them (the leak checker saw that state lost now and
    // then): as the application does, the library is kept through exit.
    sec::keepCryptoLibraryThroughExit();
    basic.start<ProtectedConnection<true>>();
    digest.start<ProtectedConnection<false>>();
  }

  std::string request(std::uint16_t port, const std::string& authorization) {
    std::string bytes = "GET /protected HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (!authorization.empty()) bytes += "Authorization: " + authorization + "\r\n";
    // The request asks the server to close once it has answered.
    std::string reply = fuzz::converse(port, bytes + "\r\n", fuzz::ClientEnd::Read);
    deaths.waitFor(++conversations, "a connection");
    return reply;
  }

  // A nonce the Digest server issued lately (a fresh one now and then, long before it expires).
  const std::string& currentNonce() {
    if (nonce.empty() || ++nonceUses % 1000 == 0) {
      std::string challenge = request(digest.port, "");
      auto at = challenge.find("WWW-Authenticate: ");
      auto end = challenge.find("\r\n", at);
      if (at == std::string::npos || end == std::string::npos) fuzz::fail("no Digest challenge");
      auto issued = HTTPAuthenticationRequest::quotedSubHeaderFieldValue_fromHeaderFieldValue(
          "nonce", challenge.substr(at, end - at));
      if (!issued || issued->empty()) fuzz::fail("a Digest challenge without a nonce");
      nonce = *issued;
    }
    return nonce;
  }
};

int statusOf(const std::string& reply) {
  if (reply.compare(0, 9, "HTTP/1.1 ") != 0 || reply.size() < 12) return 0;
  return std::atoi(reply.substr(9, 3).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto servers = std::make_unique<Servers>();
  if (size == 0) return 0;
  bool basic = data[0] == 'B';
  std::string value;
  // One header line: line breaks would end the header (that is the request fuzzer's ground).
  for (char c : fuzz::text(data + 1, size - 1)) value += c == '\r' || c == '\n' ? ' ' : c;
  if (!basic) {
    const std::string& nonce = servers->currentNonce();
    for (auto at = value.find("NONCE"); at != std::string::npos; at = value.find("NONCE", at + nonce.size()))
      value.replace(at, 5, nonce);
  }
  std::string reply = servers->request(basic ? servers->basic.port : servers->digest.port, value);
  int status = statusOf(reply);
  if (status != 200 && status != 401 && status != 400)
    fuzz::fail("unexpected answer to an Authorization header: " + reply.substr(0, reply.find("\r\n")));
  // A Digest response is a hash over the password and the server's nonce that no fuzz run can
  // hit: a Digest header accepted is a header accepted without the right credentials.
  if (status == 200 && !basic) fuzz::fail("a Digest header was accepted without the password");
  if (status == 200 && reply.find("inside") == std::string::npos) fuzz::fail("200 without the body");
  return 0;
}
