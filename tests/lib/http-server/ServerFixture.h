#pragma once
// A server on 127.0.0.1, port 0, over a fresh document root in a sandboxed home.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "lib/http-server/Core/HTTPServer.h"
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
  }
  void startServer() {
    ns::Error error;
    ASSERT_TRUE(server->start(&error)) << error.description();
    port = server->listeningPort();
    ASSERT_NE(port, 0);
  }
  std::string file(const std::string& name, const std::string& bytes) {
    auto path = root / name;
    std::filesystem::create_directories(path.parent_path());
    writeFile(path.string(), bytes);
    return path.string();
  }

  pltest::Sandbox sandbox;
  std::filesystem::path root;
  ns::Ref<HTTPServer> server;
  std::uint16_t port = 0;
};

}  // namespace httptest
