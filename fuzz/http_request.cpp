// Requests to the embedded server, as bytes on a real loopback connection: heads, bodies (sized
// and chunked), several requests on one connection, ranges of a file. The client writes the input,
// closes its sending side and reads until the server closes. The server serves a document root
// with two files; its connections take POST and PUT bodies.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "fuzz/Loopback.h"
#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPServer.h"
#include "lib/http-server/Core/HTTPServerNotifications.h"
#include "platform/testing/Sandbox.h"

namespace {

class UploadConnection : public HTTPConnection {
 public:
  using HTTPConnection::HTTPConnection;
  bool supportsMethod_atPath(const std::string& method, const std::string& path) override {
    return method == "POST" || method == "PUT" || HTTPConnection::supportsMethod_atPath(method, path);
  }
  void processBodyData(const ns::Data& chunk) override { received_ += chunk.length(); }
  ns::Ref<HTTPResponse> httpResponseForMethod_URI(const std::string& method,
                                                  const std::string& path) override {
    (void)parseGetParams();
    if (method == "POST" || method == "PUT")
      return HTTPConnection::httpResponseForMethod_URI("GET", "/index.html");
    return HTTPConnection::httpResponseForMethod_URI(method, path);
  }

 private:
  std::uint64_t received_ = 0;
};

struct Server {
  pltest::Sandbox sandbox;
  ns::Ref<HTTPServer> server = ns::make<HTTPServer>();
  std::uint16_t port = 0;
  fuzz::DeathCounter deaths{HTTPConnectionDidDieNotification};

  Server() {
    auto root = sandbox.temporaryFolder("www");
    std::ofstream(root / "index.html") << "<html><body>fuzz</body></html>\n";
    std::string video(64 * 1024, '\0');
    for (std::size_t i = 0; i < video.size(); ++i) video[i] = static_cast<char>(i * 7);
    std::ofstream(root / "video.bin", std::ios::binary) << video;
    server->setConnectionClass<UploadConnection>();
    server->setInterface("127.0.0.1");
    server->setDocumentRoot(root.string());
    ns::Error error;
    if (!server->start(&error)) fuzz::fail("the server does not start: " + error.description());
    port = server->listeningPort();
  }
  ~Server() { server->stop(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto server = std::make_unique<Server>();
  static std::size_t conversations = 0;
  fuzz::converse(server->port, data, size);
  server->deaths.waitFor(++conversations, "a connection");
  return 0;
}
