#include "lib/http-server/Core/HTTPServer.h"

#include <algorithm>

#include "lib/http-server/Core/HTTPLogging.h"
#include "lib/http-server/Core/HTTPServerNotifications.h"
#include "lib/http-server/Core/WebSocketHandle.h"
#include "lib/sockets/DispatchSocket.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"

namespace {
constexpr char kLogName[] = "HTTPServer";
}

HTTPServer::HTTPServer() {
  serverQueue_ = dispatch::queueCreate("HTTPServer");
  // Marks the server queue so that the destructor can tell when it runs there.
  dispatch::setSpecific(serverQueue_, &serverQueue_, this);
  connectionQueue_ = dispatch::queueCreate("HTTPConnection");
  dispatchSocket_ = ns::make<DispatchSocket>(ns::Weak<DispatchSocketDelegate>(), serverQueue_);
  connectionClass_ = [](const ns::Ref<DispatchSocket>& socket, const ns::Ref<HTTPConfig>& config) {
    return HTTPConnection::initWithDispatchSocket_configuration<HTTPConnection>(socket, config);
  };
}

HTTPServer::~HTTPServer() {
  auto center = ns::NotificationCenter::defaultCenter();
  if (connectionObserver_) center->removeObserver(connectionObserver_.get());
  if (webSocketObserver_) center->removeObserver(webSocketObserver_.get());
  // Every task of this server holds a reference to it, so none is queued or running now: the
  // stop runs in place. Waiting for the server queue instead would deadlock when the last
  // reference drops on that queue, or on the listening socket's queue while the server queue
  // waits for it.
  stopNow(false);
  dispatchSocket_->setDelegate_delegateQueue({}, nullptr);
}

bool HTTPServer::isOnServerQueue() const {
  return dispatch::getSpecific(&serverQueue_) == this;
}

void HTTPServer::assertOnServerQueue() const {
  DISPATCH_DEBUG_ASSERT_OWNER(isOnServerQueue(), "HTTPServer", serverQueue_->label());
}

void HTTPServer::runSync(const std::function<void()>& body) {
  if (isOnServerQueue())
    body();
  else
    dispatch::sync(serverQueue_, body);
}

void HTTPServer::runAsync(std::function<void()> body) {
  auto me = self<HTTPServer>();
  dispatch::async(serverQueue_, [me, body = std::move(body)] { body(); });
}

// Configuration ------------------------------------------------------------------------------

std::optional<std::string> HTTPServer::documentRoot() {
  std::optional<std::string> result;
  runSync([&] { result = documentRoot_; });
  return result;
}

void HTTPServer::setDocumentRoot(std::optional<std::string> value) {
  // runAsync holds the server until the block has run.
  runAsync([this, value = std::move(value)] { documentRoot_ = value; });
}

HTTPServer::ConnectionFactory HTTPServer::connectionClass() {
  ConnectionFactory result;
  runSync([&] { result = connectionClass_; });
  return result;
}

void HTTPServer::setConnectionClass(ConnectionFactory value) {
  // runAsync holds the server until the block has run.
  runAsync([this, value = std::move(value)] { connectionClass_ = value; });
}

std::optional<std::string> HTTPServer::interface() {
  std::optional<std::string> result;
  runSync([&] { result = interface_; });
  return result;
}

void HTTPServer::setInterface(std::optional<std::string> value) {
  // runAsync holds the server until the block has run.
  runAsync([this, value = std::move(value)] { interface_ = value; });
}

std::uint16_t HTTPServer::port() {
  std::uint16_t result = 0;
  runSync([&] { result = port_; });
  return result;
}

void HTTPServer::setPort(std::uint16_t value) {
  // runAsync holds the server until the block has run.
  runAsync([this, value] { port_ = value; });
}

std::uint16_t HTTPServer::listeningPort() {
  std::uint16_t result = 0;
  runSync([&] { result = isRunning_ ? dispatchSocket_->localPort() : 0; });
  return result;
}

std::string HTTPServer::domain() {
  std::string result;
  runSync([&] { result = domain_; });
  return result;
}

void HTTPServer::setDomain(std::string value) {
  // runAsync holds the server until the block has run.
  runAsync([this, value = std::move(value)] { domain_ = value; });
}

std::string HTTPServer::name() {
  std::string result;
  runSync([&] { result = name_; });
  return result;
}

void HTTPServer::setName(std::string value) {
  // runAsync holds the server until the block has run.
  runAsync([this, value = std::move(value)] { name_ = value; });
}

std::optional<std::string> HTTPServer::publishedName() {
  std::optional<std::string> result;
  runSync([&] {
    if (!netService_) return;
    performBonjourBlock([&] {
      if (failedService_.lock() != netService_) result = netService_->name();
    });
  });
  return result;
}

std::optional<std::string> HTTPServer::type() {
  std::optional<std::string> result;
  runSync([&] { result = type_; });
  return result;
}

void HTTPServer::setType(std::optional<std::string> value) {
  // runAsync holds the server until the block has run.
  runAsync([this, value = std::move(value)] { type_ = value; });
}

std::optional<ns::Dictionary> HTTPServer::TXTRecordDictionary() {
  std::optional<ns::Dictionary> result;
  runSync([&] { result = txtRecordDictionary_; });
  return result;
}

void HTTPServer::setTXTRecordDictionary(std::optional<ns::Dictionary> value) {
  // runAsync holds the server until the block has run.
  runAsync([this, value = std::move(value)] {
    txtRecordDictionary_ = value;
    if (!netService_) return;
    auto data = value ? ns::NetService::dataFromTXTRecordDictionary(*value) : std::nullopt;
    performBonjourBlock([&] { netService_->setTXTRecordData(data); });
  });
}

// Control ------------------------------------------------------------------------------------

void HTTPServer::observeDeathsIfNeeded() {
  // Registered once the server is owned by a Ref, so that the handlers hold it weakly.
  // Runs at once, inside call_once.
  std::call_once(observeOnce_, [this] {
    ns::Weak<HTTPServer> weak = weakSelf<HTTPServer>();
    auto center = ns::NotificationCenter::defaultCenter();
    connectionObserver_ = center->addObserverForName_object_queue_usingBlock(
        HTTPConnectionDidDieNotification, nullptr, nullptr, [weak](const ns::Ref<ns::Notification>& note) {
          if (auto server = weak.lock()) server->connectionDidDie(note);
        });
    webSocketObserver_ = center->addObserverForName_object_queue_usingBlock(
        WebSocketDidDieNotification, nullptr, nullptr, [weak](const ns::Ref<ns::Notification>& note) {
          if (auto server = weak.lock()) server->webSocketDidDie(note);
        });
  });
}

bool HTTPServer::start(ns::Error* errPtr) {
  observeDeathsIfNeeded();
  bool success = false;
  ns::Error error;
  runSync([&] {
    dispatchSocket_->synchronouslySetDelegate_delegateQueue(weakSelf<HTTPServer>(), serverQueue_);
    success = dispatchSocket_->acceptOnInterface_port_error(interface_, port_, &error);
    if (success) {
      HTTP_LOG_INFO(HTTP_LOG_LEVEL_SERVER, "%@: Started HTTP server on port %hu", kLogName,
                    dispatchSocket_->localPort());
      isRunning_ = true;
      publishBonjour();
    } else {
      HTTP_LOG_ERROR(HTTP_LOG_LEVEL_SERVER, "%@: Failed to start HTTP Server: %@", kLogName, error);
    }
  });
  if (!success && errPtr) *errPtr = error;
  return success;
}

void HTTPServer::stop(bool keepExistingConnections) {
  runSync([&] { stopOnServerQueue(keepExistingConnections); });
}

void HTTPServer::stopOnServerQueue(bool keepExistingConnections) {
  assertOnServerQueue();
  stopNow(keepExistingConnections);
}

void HTTPServer::stopNow(bool keepExistingConnections) {
  unpublishBonjour();
  dispatchSocket_->disconnect();
  isRunning_ = false;
  if (keepExistingConnections) return;
  std::vector<ns::Ref<HTTPConnection>> connections;
  {
    std::lock_guard lock(connectionsLock_);
    connections.swap(connections_);
  }
  // A connection's stop only queues work on its own queue.
  for (const auto& connection : connections) connection->stop();
  std::vector<ns::Ref<WebSocketHandle>> webSockets;
  {
    std::lock_guard lock(webSocketsLock_);
    webSockets.swap(webSockets_);
  }
  for (const auto& ws : webSockets) ws->stop();
}

bool HTTPServer::isRunning() {
  bool result = false;
  runSync([&] { result = isRunning_; });
  return result;
}

std::size_t HTTPServer::numberOfHTTPConnections() {
  std::lock_guard lock(connectionsLock_);
  return connections_.size();
}

std::size_t HTTPServer::numberOfWebSocketConnections() {
  std::lock_guard lock(webSocketsLock_);
  return webSockets_.size();
}

std::vector<ns::Ref<HTTPConnection>> HTTPServer::connectionsSnapshot() {
  std::lock_guard lock(connectionsLock_);
  return connections_;
}

void HTTPServer::addWebSocket(const ns::Ref<WebSocketHandle>& ws) {
  std::lock_guard lock(webSocketsLock_);
  webSockets_.push_back(ws);
}

ns::Ref<HTTPConfig> HTTPServer::config() {
  assertOnServerQueue();
  return HTTPConfig::initWithServer_documentRoot_queue(weakSelf<HTTPServer>(), documentRoot_,
                                                       connectionQueue_);
}

// Callbacks ----------------------------------------------------------------------------------

ns::Ref<dispatch::Queue> HTTPServer::newSocketQueueForConnectionFromAddress_onSocket(
    const ns::Data&, const ns::Ref<DispatchSocket>&) {
  return connectionQueue_;
}

void HTTPServer::socket_didAcceptNewSocket(const ns::Ref<DispatchSocket>&,
                                           const ns::Ref<DispatchSocket>& newSocket) {
  assertOnServerQueue();
  auto connection = connectionClass_(newSocket, config());
  if (!connection) {
    newSocket->disconnect();
    return;
  }
  {
    std::lock_guard lock(connectionsLock_);
    connections_.push_back(connection);
  }
  connection->start();
}

void HTTPServer::connectionDidDie(const ns::Ref<ns::Notification>& notification) {
  ns::Ref<HTTPConnection> removed;
  {
    std::lock_guard lock(connectionsLock_);
    auto it = std::find_if(connections_.begin(), connections_.end(),
                           [&](const auto& c) { return c.get() == notification->object().get(); });
    if (it == connections_.end()) return;
    removed = std::move(*it);
    connections_.erase(it);
  }
  // `removed` may hold the last reference; it goes after the lock is released.
}

void HTTPServer::webSocketDidDie(const ns::Ref<ns::Notification>& notification) {
  ns::Ref<WebSocketHandle> removed;
  {
    std::lock_guard lock(webSocketsLock_);
    auto it = std::find_if(webSockets_.begin(), webSockets_.end(),
                           [&](const auto& ws) { return ws.get() == notification->object().get(); });
    if (it == webSockets_.end()) return;
    removed = std::move(*it);
    webSockets_.erase(it);
  }
}

// Publishing ---------------------------------------------------------------------------------

void HTTPServer::publishBonjour() {
  assertOnServerQueue();
  if (!type_) return;
  auto service = ns::make<ns::NetService>(domain_, *type_, name_, dispatchSocket_->localPort());
  service->setDelegate(weakSelf<HTTPServer>());
  std::optional<ns::Data> txtData;
  if (txtRecordDictionary_) txtData = ns::NetService::dataFromTXTRecordDictionary(*txtRecordDictionary_);
  netService_ = service;
  startBonjourThreadIfNeeded();
  performBonjourBlock([&] {
    service->removeFromRunLoop_forMode(ns::RunLoop::mainRunLoop(), ns::RunLoopCommonModes);
    service->scheduleInRunLoop_forMode(ns::RunLoop::currentRunLoop(), ns::RunLoopCommonModes);
    service->publish();
    // The record goes with the registration that publish has just started.
    if (txtData) service->setTXTRecordData(txtData);
  });
}

void HTTPServer::unpublishBonjour() {
  if (!netService_) return;
  auto service = std::move(netService_);
  performBonjourBlock([&] { service->stop(); });
}

void HTTPServer::republishBonjour() {
  // runAsync holds the server until the block has run.
  runAsync([this] {
    unpublishBonjour();
    publishBonjour();
  });
}

void HTTPServer::netServiceDidPublish(const ns::Ref<ns::NetService>& sender) {
  if (failedService_.lock() == sender) failedService_.reset();
  HTTP_LOG_INFO(HTTP_LOG_LEVEL_SERVER, "Bonjour Service Published: domain(%@) type(%@) name(%@)",
                sender->domain(), sender->type(), sender->name());
}

void HTTPServer::netService_didNotPublish(const ns::Ref<ns::NetService>& sender,
                                          const ns::Dictionary& errorDict) {
  // A service that did not publish has no published name.
  failedService_ = sender;
  HTTP_LOG_WARN(HTTP_LOG_LEVEL_SERVER, "Failed to Publish Service: domain(%@) type(%@) name(%@) - %@",
                sender->domain(), sender->type(), sender->name(), ns::Value(errorDict));
}

// The Bonjour thread -------------------------------------------------------------------------

namespace {
// Process-wide and never stopped: a server may publish until the process ends.
ns::NoDestructor<ns::Ref<ns::Thread>> gBonjourThread;
std::once_flag gBonjourOnce;
}  // namespace

void HTTPServer::startBonjourThreadIfNeeded() {
  std::call_once(gBonjourOnce, [] {
    auto thread = ns::make<ns::Thread>([] {
      // A timer that never fires gives the run loop a source, so that it runs until the end.
      auto keepAlive = ns::Timer::timerWithTimeInterval_repeats_block(
          ns::Date::distantFuture().timeIntervalSinceNow(), true, [](const ns::Ref<ns::Timer>&) {});
      ns::RunLoop::currentRunLoop()->addTimer_forMode(keepAlive, ns::DefaultRunLoopMode);
      ns::RunLoop::currentRunLoop()->run();
    });
    thread->setName("BonjourThread");
    *gBonjourThread = thread;
    thread->start();
  });
}

ns::Ref<ns::Thread> HTTPServer::bonjourThread() {
  startBonjourThreadIfNeeded();
  return *gBonjourThread;
}

void HTTPServer::performBonjourBlock(const std::function<void()>& block) {
  ns::Thread::performOnThread(bonjourThread(), {nullptr, "executeBonjourBlock:", nullptr, block}, true,
                              {ns::RunLoopCommonModes});
}
