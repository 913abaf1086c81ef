#pragma once
// A server on 127.0.0.1, port 0, over a fresh document root in a sandboxed home, and raw
// clients that talk to it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lib/http-server/Core/HTTPServer.h"
#include "platform/testing/RawClient.h"
#include "platform/testing/Sandbox.h"
#include "tests/lib/http-server/ServerTestSupport.h"

namespace httptest {

class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    root = sandbox.temporaryFolder("www");
    server = ns::make<HTTPServer>();
    server->setInterface("127.0.0.1");
    server->setDocumentRoot(root.string());
  }
  void TearDown() override {
    if (server) server->stop();
    server.reset();
    clients_.clear();
  }
  void startServer() {
    ns::Error error;
    ASSERT_TRUE(server->start(&error)) << error.description();
    port = server->listeningPort();
    ASSERT_NE(port, 0);
  }
  std::string file(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(writeFile(root / name, bytes)) << name;
    return (root / name).string();
  }

  // A new client connected to the server; the fixture keeps it until the test ends.
  RawClient& connect(int receiveBufferSize = 0) {
    clients_.push_back(std::make_unique<RawClient>());
    EXPECT_TRUE(clients_.back()->connectTo(port, false, receiveBufferSize)) << "port " << port;
    return *clients_.back();
  }
  // Sends `request` and reads the response (its body unless `withBody` is false).
  static std::optional<WireResponse> exchange(RawClient& client, const std::string& request,
                                              bool withBody = true) {
    EXPECT_TRUE(client.sendAll(request)) << request;
    return client.readResponse(withBody);
  }
  // The same on a connection of its own.
  std::optional<WireResponse> exchangeOnce(const std::string& request, bool withBody = true) {
    return exchange(connect(), request, withBody);
  }
  // The status of a response, 0 when none came.
  static int statusOf(const std::optional<WireResponse>& response) { return response ? response->status : 0; }
  // The address of `path` on the server.
  std::string urlOf(const std::string& path, const std::string& scheme = "http") const {
    return scheme + "://127.0.0.1:" + std::to_string(port) + path;
  }
  // A GET request for `target` with extra header lines ("Range: bytes=0-9\r\n").
  static std::string GET(const std::string& target, const std::string& headers = "",
                         const std::string& version = "HTTP/1.1") {
    return "GET " + target + " " + version + "\r\n" + headers + "\r\n";
  }

  pltest::Sandbox sandbox;
  std::filesystem::path root;
  ns::Ref<HTTPServer> server;
  std::uint16_t port = 0;

 private:
  std::vector<std::unique_ptr<RawClient>> clients_;
};

}  // namespace httptest
