#pragma once
// The embedded HTTP/1.1 server: owns the listening socket, makes one connection per accepted
// socket from a configurable connection class and keeps the live connections and WebSockets
// until they die or the server stops.
//
//   auto server = ns::make<HTTPServer>();
//   server->setConnectionClass<MyHTTPConnection>();
//   server->setInterface("127.0.0.1");
//   server->setDocumentRoot(cacheFolder);
//   ns::Error error;
//   if (!server->start(&error)) ...;
//
// Configuration, start and stop run on the serial "HTTPServer" queue: getters, start, stop and
// isRunning wait for it (never call them from it), setters are queued; Debug builds check that
// what touches the server's state runs there. All connections of one server share one serial
// "HTTPConnection" queue.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lib/http-server/Core/HTTPConfig.h"
#include "lib/sockets/DispatchSocketDelegate.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/net/NetService.h"

class HTTPConnection;
class WebSocketHandle;
namespace ns {
class Notification;
class Thread;
}  // namespace ns

class HTTPServer : public ns::Object, public DispatchSocketDelegate, public ns::NetServiceDelegate {
 public:
  // The connection class: makes a connection for an accepted socket and a configuration.
  using ConnectionFactory =
      std::function<ns::Ref<HTTPConnection>(const ns::Ref<DispatchSocket>&, const ns::Ref<HTTPConfig>&)>;

  HTTPServer();
  ~HTTPServer() override;

  std::string className() const override { return "HTTPServer"; }

  std::optional<std::string> documentRoot();
  void setDocumentRoot(std::optional<std::string> value);
  ConnectionFactory connectionClass();
  void setConnectionClass(ConnectionFactory value);
  template <class T>
  void setConnectionClass();
  std::optional<std::string> interface();
  void setInterface(std::optional<std::string> value);
  std::uint16_t port();
  void setPort(std::uint16_t value);
  // While running, the port really listened on; otherwise 0.
  std::uint16_t listeningPort();
  std::string domain();
  void setDomain(std::string value);
  std::string name();
  void setName(std::string value);
  // The name the service is published under (the daemon's alternative after a collision), read
  // on the Bonjour thread; nothing while no service is published or after it failed to publish.
  std::optional<std::string> publishedName();
  std::optional<std::string> type();
  void setType(std::optional<std::string> value);
  std::optional<ns::Dictionary> TXTRecordDictionary();
  // Also replaces the published service's TXT record.
  void setTXTRecordDictionary(std::optional<ns::Dictionary> value);

  bool start(ns::Error* errPtr);
  void stop() { stop(false); }
  void stop(bool keepExistingConnections);
  bool isRunning();

  std::size_t numberOfHTTPConnections();
  std::size_t numberOfWebSocketConnections();
  void addWebSocket(const ns::Ref<WebSocketHandle>& ws);
  // A new configuration for a connection: the server, the document root and the connection
  // queue. Reads the fields directly: call it on the server queue.
  ns::Ref<HTTPConfig> config();

  void connectionDidDie(const ns::Ref<ns::Notification>& notification);
  void webSocketDidDie(const ns::Ref<ns::Notification>& notification);
  // Accepted sockets do their work on the connection queue, which their connections run on
  // anyway: a request then costs no hand-over between threads.
  ns::Ref<dispatch::Queue> newSocketQueueForConnectionFromAddress_onSocket(
      const ns::Data& address, const ns::Ref<DispatchSocket>& sock) override;
  void socket_didAcceptNewSocket(const ns::Ref<DispatchSocket>& sock,
                                 const ns::Ref<DispatchSocket>& newSocket) override;

  // Publishing as a DNS-SD service (only with a type set): queued unpublish, then publish.
  void republishBonjour();
  // The service's callbacks, on the Bonjour thread: they log only.
  void netServiceDidPublish(const ns::Ref<ns::NetService>& sender) override;
  void netService_didNotPublish(const ns::Ref<ns::NetService>& sender,
                                const ns::Dictionary& errorDict) override;

  // The one thread of the process that the services are scheduled on and call back on.
  static void startBonjourThreadIfNeeded();
  static ns::Ref<ns::Thread> bonjourThread();
  // Runs the block on the Bonjour thread and waits for it.
  static void performBonjourBlock(const std::function<void()>& block);

  // Connections of this server, for tests and subclasses.
  std::vector<ns::Ref<HTTPConnection>> connectionsSnapshot();

 private:
  void publishBonjour();
  void unpublishBonjour();
  void stopOnServerQueue(bool keepExistingConnections);
  // The stop itself; the destructor runs it in place, as no task of the server can be left.
  void stopNow(bool keepExistingConnections);
  // Debug builds: aborts unless called on the server queue.
  void assertOnServerQueue() const;
  // Runs body on the server queue and waits, or at once when already on it.
  void runSync(const std::function<void()>& body);
  void runAsync(std::function<void()> body);
  bool isOnServerQueue() const;
  void observeDeathsIfNeeded();

  ns::Ref<dispatch::Queue> serverQueue_;
  ns::Ref<dispatch::Queue> connectionQueue_;
  ns::Ref<DispatchSocket> dispatchSocket_;
  std::optional<std::string> documentRoot_;
  ConnectionFactory connectionClass_;
  std::optional<std::string> interface_;
  std::uint16_t port_ = 0;
  std::string domain_ = "local.";
  std::optional<std::string> type_;
  std::string name_;
  std::optional<ns::Dictionary> txtRecordDictionary_;
  ns::Ref<ns::NetService> netService_;
  ns::Weak<ns::NetService> failedService_;  // Bonjour thread only
  std::mutex connectionsLock_;
  std::vector<ns::Ref<HTTPConnection>> connections_;
  std::mutex webSocketsLock_;
  std::vector<ns::Ref<WebSocketHandle>> webSockets_;
  bool isRunning_ = false;
  std::once_flag observeOnce_;
  ns::Ref<ns::Object> connectionObserver_;
  ns::Ref<ns::Object> webSocketObserver_;
};

#include "lib/http-server/Core/HTTPConnection.h"

template <class T>
void HTTPServer::setConnectionClass() {
  setConnectionClass([](const ns::Ref<DispatchSocket>& socket, const ns::Ref<HTTPConfig>& config) {
    return std::static_pointer_cast<HTTPConnection>(
        HTTPConnection::initWithDispatchSocket_configuration<T>(socket, config));
  });
}
