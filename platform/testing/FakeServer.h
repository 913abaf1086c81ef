#pragma once
// A loopback HTTP or HTTPS server for fakes of remote services. It listens on 127.0.0.1 at a
// port the system picks, answers through route handlers (added at any time, tried newest first),
// and records every request it receives. HTTPS uses a test CA made at start; the URL loader is
// told to trust it with trustInURLLoading() (or through the CA file).
//
//   pltest::FakeServer server({.https = true});
//   server.route("GET", "/feeds/.*", [](const pltest::FakeRequest& r) {
//     return pltest::FakeReply::text(200, "hello");
//   });
//   auto url = ns::URL::URLWithString(server.baseURL() + "/feeds/1");
//
// Replies can be whole (byte ranges of a whole body are honoured unless the reply says not to),
// chunked, slow (a pause between parts), trickled (a declared length sent in parts with a pause
// between them), stalled (the body stops until release() or the server stops) or cut short
// (the connection closes before the declared length was sent). The server library refuses form
// bodies (application/x-www-form-urlencoded) over 8 KiB with 413; send larger bodies with
// another content type.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/HTTPHeaderFields.h"

namespace pltest {

struct FakeRequest {
  std::string method;
  std::string path;                           // decoded, without the query
  std::string target;                         // as sent: path and query
  std::map<std::string, std::string> params;  // decoded query (and form body) parameters
  ns::HTTPHeaderFields headers;
  std::string body;
  std::vector<std::string> matches;  // the route pattern's capture groups
  // Its place among the requests that every fake of this process received (from 1): tells which
  // of two requests to different fakes came first.
  std::uint64_t sequence = 0;
  std::optional<std::string> header(const std::string& name) const { return headers.get(name); }
};

struct FakeReply {
  enum class Mode { Whole, Chunked, Slow, Trickle, Stall, CutShort };

  int status = 200;
  ns::HTTPHeaderFields headers;
  std::string contentType = "text/plain";
  std::string body;
  Mode mode = Mode::Whole;
  // Chunked and Slow: the parts, sent one by one (Slow pauses `pause` between them). Stall: the
  // first part is sent, then the body stops. CutShort: `body` is declared, the first part is sent
  // and the connection closes.
  std::vector<std::string> parts;
  std::chrono::milliseconds pause{0};
  // Whole: answer a "Range" request with 206 or 416 (false: send the whole body with `status`).
  bool honourRanges = true;
  // Trickle: bytes of `body` sent between two pauses.
  std::size_t partSize = 0;

  static FakeReply text(int status, std::string body, std::string contentType = "text/plain");
  static FakeReply json(int status, std::string body) {
    return text(status, std::move(body), "application/json");
  }
  static FakeReply redirect(int status, std::string location);
  static FakeReply chunked(std::vector<std::string> parts, std::string contentType = "text/plain");
  static FakeReply slow(std::vector<std::string> parts, std::chrono::milliseconds pause);
  // `body` with its length declared, `partSize` bytes at a time, `pause` between the parts.
  static FakeReply trickle(std::string body, std::size_t partSize, std::chrono::milliseconds pause);
  static FakeReply stalled(std::string firstPart, long long declaredLength);
  static FakeReply cutShort(std::string sentPart, long long declaredLength);
  FakeReply& header(std::string name, std::string value) {
    headers.set(name, value);
    return *this;
  }
};

using FakeHandler = std::function<FakeReply(const FakeRequest&)>;

class FakeServer {
 public:
  struct Options {
    bool https = false;
    // Names the HTTPS certificate is issued for.
    std::vector<std::string> hostNames{"localhost", "127.0.0.1"};
  };

  FakeServer();
  explicit FakeServer(Options options);
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  int port() const;
  bool isHTTPS() const;
  // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT".
  std::string baseURL() const;
  std::string URLForPath(const std::string& path) const { return baseURL() + path; }

  // The test CA's certificate (HTTPS only), as PEM text and as a file kept until the server goes.
  std::string caCertificatePEM() const;
  std::string caCertificateFile() const;
  // Makes the process's URL loading trust the test CA (until untrustInURLLoading()).
  void trustInURLLoading() const;
  static void untrustInURLLoading();

  // Makes URL loading send connections for host:port (port 0: the scheme's default port) to this
  // server, keeping the host name in the URL, Host header, cookies and TLS name; undone when the
  // server goes. For HTTPS, list the host in Options::hostNames so the certificate covers it.
  void serveAs(const std::string& host, int port = 0);

  // `pattern` is a regular expression matched against the whole path; `method` "*" matches any.
  void route(const std::string& method, const std::string& pattern, FakeHandler handler);
  // Answers every request to the path with the same reply.
  void canned(const std::string& method, const std::string& path, FakeReply reply);
  // Requests no route answers get 404 "not found".

  std::vector<FakeRequest> requests() const;
  std::size_t requestCount() const;
  // Blocks (on a condition, not by sleeping) until `count` requests have arrived or `timeout`
  // passes; answers whether they arrived.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  void clearRequests();

  // Lets stalled bodies go on: they end the connection.
  void release();
  void stop();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace pltest
