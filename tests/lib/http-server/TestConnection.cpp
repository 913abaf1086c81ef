#include "tests/lib/http-server/TestConnection.h"

#include "platform/dispatch/Queue.h"
#include "tests/lib/http-server/ServerTestSupport.h"

namespace httptest {

ns::Ref<TestConnection> TestHooks::lastConnection() {
  std::lock_guard lock(mutex);
  return connections.empty() ? nullptr : connections.back().lock();
}

void TestHooks::install(const ns::Ref<HTTPServer>& server, const std::shared_ptr<TestHooks>& hooks) {
  server->setConnectionClass([hooks](const ns::Ref<DispatchSocket>& socket,
                                     const ns::Ref<HTTPConfig>& config) {
    auto connection = HTTPConnection::initWithDispatchSocket_configuration<TestConnection>(socket, config);
    connection->hooks = hooks;
    std::lock_guard lock(hooks->mutex);
    hooks->connections.push_back(connection);
    return std::static_pointer_cast<HTTPConnection>(connection);
  });
}

bool TestConnection::supportsMethod_atPath(const std::string& method, const std::string& path) {
  if (method == "POST" && hooks->supportsPost) return true;
  return HTTPConnection::supportsMethod_atPath(method, path);
}

void TestConnection::processBodyData(const ns::Data& data) {
  body += data.toString();
  std::lock_guard lock(hooks->mutex);
  hooks->bodyPieces.push_back(data.toString());
}

ns::Ref<HTTPResponse> TestConnection::httpResponseForMethod_URI(const std::string& method,
                                                                const std::string& path) {
  if (hooks->route)
    if (auto response = hooks->route(*this, method, path)) return response;
  return HTTPConnection::httpResponseForMethod_URI(method, path);
}

std::optional<ns::Data> StringResponse::readDataOfLength(std::uint64_t length) {
  std::uint64_t n = std::min<std::uint64_t>({length, body_.size() - offset_, piece_});
  ns::Data data(body_.data() + offset_, static_cast<std::size_t>(n));
  offset_ += n;
  return data;
}

ObservingConnection::ObservingConnection()
    : HTTPConnection(
          nullptr, HTTPConfig::initWithServer_documentRoot_queue(ns::Weak<HTTPServer>(), std::nullopt,
                                                                 dispatch::queueCreate("HTTPConnection"))) {}

void ObservingConnection::responseHasAvailableData(const ns::Ref<HTTPResponse>&) {
  monitor_.change([&] { ++available_; });
}

void ObservingConnection::responseDidAbort(const ns::Ref<HTTPResponse>&) {
  monitor_.change([&] { ++aborts_; });
}

bool ObservingConnection::waitForAvailable(std::size_t count) {
  return monitor_.waitFor([&] { return available_ >= count; });
}

bool ObservingConnection::waitForAbort() {
  return monitor_.waitFor([&] { return aborts_ > 0; });
}

std::size_t ObservingConnection::availableCount() {
  return monitor_.with([&] { return available_; });
}

}  // namespace httptest
