#pragma once
// A connection subclass whose routing, method support and body handling a test scripts, and
// small response objects for it.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "platform/testing/Monitor.h"

namespace httptest {

class TestConnection;

// What every connection of a test server shares with the test.
struct TestHooks {
  std::function<ns::Ref<HTTPResponse>(TestConnection&, const std::string& method, const std::string& path)>
      route;
  bool supportsPost = false;
  std::mutex mutex;
  std::vector<ns::Weak<TestConnection>> connections;
  std::vector<std::string> bodyPieces;

  ns::Ref<TestConnection> lastConnection();
  // Installs TestConnection as the server's connection class.
  static void install(const ns::Ref<HTTPServer>& server, const std::shared_ptr<TestHooks>& hooks);
};

class TestConnection : public HTTPConnection {
 public:
  using HTTPConnection::HTTPConnection;

  std::shared_ptr<TestHooks> hooks;
  std::string body;  // the request body received so far

  bool supportsMethod_atPath(const std::string& method, const std::string& path) override;
  void prepareForBodyWithSize(std::uint64_t) override { body.clear(); }
  void processBodyData(const ns::Data& data) override;
  ns::Ref<HTTPResponse> httpResponseForMethod_URI(const std::string& method,
                                                  const std::string& path) override;
};

// A body held in memory, handed out in pieces of at most `piece` bytes.
class StringResponse : public HTTPResponse {
 public:
  explicit StringResponse(std::string body, std::size_t piece = SIZE_MAX)
      : body_(std::move(body)), piece_(piece) {}
  std::uint64_t contentLength() override { return body_.size(); }
  std::uint64_t offset() override { return offset_; }
  void setOffset(std::uint64_t offset) override { offset_ = offset; }
  std::optional<ns::Data> readDataOfLength(std::uint64_t length) override;
  bool isDone() override { return offset_ == body_.size(); }

 protected:
  std::string body_;
  std::size_t piece_;
  std::uint64_t offset_ = 0;
};

// A connection that is not on a socket and records what responses tell it.
class ObservingConnection : public HTTPConnection {
 public:
  ObservingConnection();
  void responseHasAvailableData(const ns::Ref<HTTPResponse>& sender) override;
  void responseDidAbort(const ns::Ref<HTTPResponse>& sender) override;
  bool waitForAvailable(std::size_t count);
  bool waitForAbort();
  std::size_t availableCount();

 private:
  pltest::Monitor monitor_;
  std::size_t available_ = 0;  // guarded by monitor_
  std::size_t aborts_ = 0;
};

}  // namespace httptest
