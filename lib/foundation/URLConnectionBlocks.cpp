#include "lib/foundation/URLConnectionBlocks.h"

#include "lib/foundation/DynamicDelegate.h"
#include "platform/net/URLConnectionObjectDelegate.h"
#include "platform/runtime/AssociatedObjects.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace {

const char kSuccessKey[] = "NSURLConnectionDidFinishLoading";
const char kUploadKey[] = "NSURLConnectionDidSendData";
const char kDownloadKey[] = "NSURLConnectionDidRecieveData";

const ns::Sel kWillSendRequest("connection:willSendRequest:redirectResponse:");
const ns::Sel kWillSendChallenge("connection:willSendRequestForAuthenticationChallenge:");
const ns::Sel kDidReceiveChallenge("connection:didReceiveAuthenticationChallenge:");
const ns::Sel kCanAuthenticate("connection:canAuthenticateAgainstProtectionSpace:");
const ns::Sel kShouldUseCredentials("connectionShouldUseCredentialStorage:");
const ns::Sel kNeedNewBodyStream("connection:needNewBodyStream:");
const ns::Sel kWillCacheResponse("connection:willCacheResponse:");
const ns::Sel kDidReceiveResponse("connection:didReceiveResponse:");
const ns::Sel kDidReceiveData("connection:didReceiveData:");
const ns::Sel kDidSendBodyData("connection:didSendBodyData:totalBytesWritten:totalBytesExpectedToWrite:");
const ns::Sel kDidFinishLoading("connectionDidFinishLoading:");
const ns::Sel kDidFailWithError("connection:didFailWithError:");

template <class F>
class Handler : public ns::Object {
 public:
  explicit Handler(F f) : fn(std::move(f)) {}
  F fn;
};

template <class F>
F handler(const ns::Ref<DynamicDelegate>& dynamic, const char* key) {
  auto h = std::dynamic_pointer_cast<Handler<F>>(dynamic ? dynamic->handlerForKey(key) : nullptr);
  return h ? h->fn : F();
}

// What a connection collects while it loads, kept with the connection.
class ConnectionState : public ns::Object {
 public:
  ns::Ref<ns::URLResponse> response;
  std::optional<ns::MutableData> body;
  std::uint64_t responseLength = 0;
};

char kStateKey;

ns::Ref<ConnectionState> stateOf(const ns::Ref<ns::URLConnection>& connection) {
  ns::objc_sync_enter(connection.get());
  auto state =
      std::dynamic_pointer_cast<ConnectionState>(ns::objc_getAssociatedObject(connection.get(), &kStateKey));
  if (!state) {
    state = ns::make<ConnectionState>();
    ns::objc_setAssociatedObject(connection.get(), &kStateKey, state, ns::OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  }
  ns::objc_sync_exit(connection.get());
  return state;
}

ns::Protocol* connectionProtocol() {
  return ns::objc_getProtocol("NSURLConnectionDelegate");
}

ns::Ref<DynamicDelegate> dynamicDelegateOf(const ns::Ref<ns::URLConnection>& connection) {
  return ObjectDynamicDelegate::dynamicDelegateForProtocol(connection.get(), connectionProtocol());
}

// The behaviour both connection delegate classes share: every message goes first to the real
// delegate when it answers it, then the connection's closures run.
class ConnectionBlocksDelegate : public DynamicDelegate {
 public:
  void connection_didReceiveResponse(ns::Ref<ns::URLConnection> connection,
                                     ns::Ref<ns::URLResponse> response) {
    passOn(kDidReceiveResponse, connection, response);
    auto state = stateOf(connection);
    state->responseLength = 0;
    if (state->body) state->body->setLength(0);
    state->response = response;
    if (auto block = blockImplementationForMethod(kDidReceiveResponse))
      block->call<void>(connection, response);
  }

  void connection_didReceiveData(ns::Ref<ns::URLConnection> connection, ns::Data data) {
    auto real = realDelegate();
    bool realTakesData = real && ns::respondsToSelector(real, kDidReceiveData);
    if (realTakesData) ns::send<void>(real, kDidReceiveData, connection, data);
    auto state = stateOf(connection);
    state->responseLength += data.length();
    auto download = handler<URLConnectionBlocks::ProgressBlock>(self<DynamicDelegate>(), kDownloadKey);
    if (download && state->response && state->response->expectedContentLength() > 0)
      download(static_cast<double>(state->responseLength) /
               static_cast<double>(state->response->expectedContentLength()));
    if (realTakesData) return;  // the real delegate keeps the body
    if (!state->body) state->body.emplace();
    state->body->appendData(data);
  }

  void connection_didSendBodyData_totalBytesWritten_totalBytesExpectedToWrite(
      ns::Ref<ns::URLConnection> connection, long written, long total, long expected) {
    passOn(kDidSendBodyData, connection, written, total, expected);
    auto upload = handler<URLConnectionBlocks::ProgressBlock>(self<DynamicDelegate>(), kUploadKey);
    // An unknown total (0 or less) gives no progress to report.
    if (upload && expected > 0) upload(static_cast<double>(total) / static_cast<double>(expected));
  }

  void connectionDidFinishLoading(ns::Ref<ns::URLConnection> connection) {
    passOn(kDidFinishLoading, connection);
    auto state = stateOf(connection);
    std::optional<ns::Data> body;
    if (state->body && state->body->length() > 0)
      body = ns::Data(state->body->bytes(), state->body->length());
    if (auto success = handler<URLConnectionBlocks::SuccessBlock>(self<DynamicDelegate>(), kSuccessKey))
      success(connection, state->response, body);
  }

  void connection_didFailWithError(ns::Ref<ns::URLConnection> connection, ns::Ref<ns::ErrorObject> error) {
    passOn(kDidFailWithError, connection, error);
    auto state = stateOf(connection);
    state->responseLength = 0;
    if (state->body) state->body->setLength(0);
    if (auto block = blockImplementationForMethod(kDidFailWithError)) block->call<void>(connection, error);
  }

  void connection_didReceiveAuthenticationChallenge(ns::Ref<ns::URLConnection> connection,
                                                    ns::Ref<ns::URLAuthenticationChallenge> challenge) {
    passOn(kDidReceiveChallenge, connection, challenge);
  }

  ns::BOOL connection_canAuthenticateAgainstProtectionSpace(ns::Ref<ns::URLConnection> connection,
                                                            ns::Ref<ns::URLProtectionSpace> space) {
    auto real = realDelegate();
    if (!real || !ns::respondsToSelector(real, kCanAuthenticate)) return ns::NO;
    return ns::send<ns::BOOL>(real, kCanAuthenticate, connection, space);
  }

 protected:
  template <class... A>
  void passOn(ns::Sel sel, const A&... args) {
    auto real = realDelegate();
    if (real && ns::respondsToSelector(real, sel)) ns::send<void>(real, sel, args...);
  }
};

class DynamicNSURLConnectionDelegate : public ConnectionBlocksDelegate {
 public:
  ns::BOOL conformsToDataProtocol(ns::Ref<ns::Protocol> protocol) {
    if (protocol && protocol->name() == "NSURLConnectionDataDelegate") return ns::YES;
    return conformsToProtocol(protocol) ? ns::YES : ns::NO;
  }

  ns::BOOL connectionShouldUseCredentialStorage(ns::Ref<ns::URLConnection> connection) {
    auto real = realDelegate();
    if (!real || !ns::respondsToSelector(real, kShouldUseCredentials)) return ns::YES;
    return ns::send<ns::BOOL>(real, kShouldUseCredentials, connection);
  }

  void connection_willSendRequestForAuthenticationChallenge(
      ns::Ref<ns::URLConnection> connection, ns::Ref<ns::URLAuthenticationChallenge> challenge) {
    auto real = realDelegate();
    if (real && ns::respondsToSelector(real, kWillSendChallenge)) {
      ns::send<void>(real, kWillSendChallenge, connection, challenge);
      return;
    }
    // Left unanswered, the challenge would hold the connection for ever.
    if (auto sender = challenge ? challenge->sender() : nullptr)
      sender->performDefaultHandlingForAuthenticationChallenge(challenge);
  }

  ns::Ref<ns::URLRequest> connection_willSendRequest_redirectResponse(ns::Ref<ns::URLConnection> connection,
                                                                      ns::Ref<ns::URLRequest> request,
                                                                      ns::Ref<ns::URLResponse> redirect) {
    auto real = realDelegate();
    if (!real || !ns::respondsToSelector(real, kWillSendRequest)) return request;
    return ns::send<ns::Ref<ns::URLRequest>>(real, kWillSendRequest, connection, request, redirect);
  }

  ns::Ref<ns::Object> connection_needNewBodyStream(ns::Ref<ns::URLConnection> connection,
                                                   ns::Ref<ns::URLRequest> request) {
    auto real = realDelegate();
    if (!real || !ns::respondsToSelector(real, kNeedNewBodyStream)) return nullptr;
    return ns::send<ns::Ref<ns::Object>>(real, kNeedNewBodyStream, connection, request);
  }

  ns::Ref<ns::CachedURLResponse> connection_willCacheResponse(ns::Ref<ns::URLConnection> connection,
                                                              ns::Ref<ns::CachedURLResponse> cached) {
    auto real = realDelegate();
    if (!real || !ns::respondsToSelector(real, kWillCacheResponse)) return cached;
    return ns::send<ns::Ref<ns::CachedURLResponse>>(real, kWillCacheResponse, connection, cached);
  }
  std::string className() const override { return "DynamicNSURLConnectionDelegate"; }
};

class DynamicURLConnectionInformalDelegate : public ConnectionBlocksDelegate {
 public:
  std::string className() const override { return "DynamicURLConnectionInformalDelegate"; }
};

template <class C>
void registerReceivingMethods(ns::runtime::ClassBuilder<C>& cls) {
  cls.template method<&C::connection_didReceiveResponse>("connection:didReceiveResponse:");
  cls.template method<&C::connection_didReceiveData>("connection:didReceiveData:");
  cls.template method<&C::connection_didSendBodyData_totalBytesWritten_totalBytesExpectedToWrite>(
      "connection:didSendBodyData:totalBytesWritten:totalBytesExpectedToWrite:");
  cls.template method<&C::connectionDidFinishLoading>("connectionDidFinishLoading:");
  cls.template method<&C::connection_didFailWithError>("connection:didFailWithError:");
  cls.template method<&C::connection_didReceiveAuthenticationChallenge>(
      "connection:didReceiveAuthenticationChallenge:");
  cls.template method<&C::connection_canAuthenticateAgainstProtectionSpace>(
      "connection:canAuthenticateAgainstProtectionSpace:");
}

ns::Ref<ns::URLConnection> makeConnection(const ns::Ref<ns::URLRequest>& request,
                                          URLConnectionBlocks::SuccessBlock success,
                                          URLConnectionBlocks::FailureBlock failure, bool start) {
  auto connection = ns::URLConnection::initWithRequest_delegate_startImmediately(request, nullptr, false);
  if (!connection) return nullptr;
  auto dynamic = dynamicDelegateOf(connection);
  URLConnectionBlocks::setSuccessBlock(connection, std::move(success));
  if (failure) URLConnectionBlocks::setFailureBlock(connection, std::move(failure));
  connection->setDelegate(ns::make<ns::URLConnectionObjectDelegate>(dynamic));
  if (start) connection->start();
  return connection;
}

template <class F>
void setHandler(const ns::Ref<ns::URLConnection>& connection, const char* key, F block) {
  auto dynamic = dynamicDelegateOf(connection);
  if (!dynamic) return;
  dynamic->setHandler_forKey(block ? ns::make<Handler<F>>(std::move(block)) : nullptr, key);
}

}  // namespace

PL_CLASS_NAMED(ConnectionBlocksDelegate, "ConnectionBlocksDelegate", DynamicDelegate) {}

PL_CLASS_NAMED(DynamicNSURLConnectionDelegate, "DynamicNSURLConnectionDelegate", ConnectionBlocksDelegate) {
  registerReceivingMethods(cls);
  cls.method<&DynamicNSURLConnectionDelegate::conformsToDataProtocol>("conformsToProtocol:");
  cls.method<&DynamicNSURLConnectionDelegate::connectionShouldUseCredentialStorage>(
      "connectionShouldUseCredentialStorage:");
  cls.method<&DynamicNSURLConnectionDelegate::connection_willSendRequestForAuthenticationChallenge>(
      "connection:willSendRequestForAuthenticationChallenge:");
  cls.method<&DynamicNSURLConnectionDelegate::connection_willSendRequest_redirectResponse>(
      "connection:willSendRequest:redirectResponse:");
  cls.method<&DynamicNSURLConnectionDelegate::connection_needNewBodyStream>("connection:needNewBodyStream:");
  cls.method<&DynamicNSURLConnectionDelegate::connection_willCacheResponse>("connection:willCacheResponse:");
  // From start-up on, a connection's delegate accessors run through its dynamic delegate.
  cls.load([] {
    ns::Class connection = ns::NSClassFromString("NSURLConnection");
    ObjectBlockDelegate::registerDynamicDelegate(connection);
    ObjectBlockDelegate::linkDelegateMethods(connection, {{"responseBlock", "connection:didReceiveResponse:"},
                                                          {"failureBlock", "connection:didFailWithError:"}});
  });
}

PL_CLASS_NAMED(DynamicURLConnectionInformalDelegate, "DynamicURLConnectionInformalDelegate",
               ConnectionBlocksDelegate) {
  registerReceivingMethods(cls);
}

// Named in the module's link options, so that every program linking the module keeps the
// registrations above.
extern "C" {
int pelorinFoundationURLConnectionBlocks = 0;
}

ns::Ref<ns::URLConnection> URLConnectionBlocks::connectionWithRequest(
    const ns::Ref<ns::URLRequest>& request) {
  return initWithRequest(request);
}

ns::Ref<ns::URLConnection> URLConnectionBlocks::initWithRequest(const ns::Ref<ns::URLRequest>& request) {
  return initWithRequest_completionHandler(request, nullptr);
}

ns::Ref<ns::URLConnection> URLConnectionBlocks::initWithRequest_completionHandler(
    const ns::Ref<ns::URLRequest>& request, SuccessBlock success) {
  return makeConnection(request, std::move(success), nullptr, false);
}

ns::Ref<ns::URLConnection> URLConnectionBlocks::startConnectionWithRequest_successHandler_failureHandler(
    const ns::Ref<ns::URLRequest>& request, SuccessBlock success, FailureBlock failure) {
  return makeConnection(request, std::move(success), std::move(failure), true);
}

void URLConnectionBlocks::startWithCompletionBlock(const ns::Ref<ns::URLConnection>& connection,
                                                   SuccessBlock success) {
  setSuccessBlock(connection, std::move(success));
  if (connection) connection->start();
}

void URLConnectionBlocks::setSuccessBlock(const ns::Ref<ns::URLConnection>& connection, SuccessBlock block) {
  setHandler(connection, kSuccessKey, std::move(block));
}

void URLConnectionBlocks::setUploadBlock(const ns::Ref<ns::URLConnection>& connection, ProgressBlock block) {
  setHandler(connection, kUploadKey, std::move(block));
}

void URLConnectionBlocks::setDownloadBlock(const ns::Ref<ns::URLConnection>& connection,
                                           ProgressBlock block) {
  setHandler(connection, kDownloadKey, std::move(block));
}

void URLConnectionBlocks::setResponseBlock(const ns::Ref<ns::URLConnection>& connection,
                                           ResponseBlock block) {
  ns::Ref<ns::Object> wrapped;
  if (block) {
    wrapped = ns::block<void(ns::Ref<ns::Object>, ns::Ref<ns::Object>)>(
        [block = std::move(block)](ns::Ref<ns::Object> c, ns::Ref<ns::Object> r) {
          block(std::dynamic_pointer_cast<ns::URLConnection>(c),
                std::dynamic_pointer_cast<ns::URLResponse>(r));
        });
  }
  ns::send<void>(connection, ns::Sel("setResponseBlock:"), wrapped);
}

void URLConnectionBlocks::setFailureBlock(const ns::Ref<ns::URLConnection>& connection, FailureBlock block) {
  ns::Ref<ns::Block> wrapped;
  if (block) {
    wrapped = ns::block<void(ns::Ref<ns::Object>, ns::Ref<ns::Object>)>(
        [block = std::move(block)](ns::Ref<ns::Object> c, ns::Ref<ns::Object> e) {
          auto error = std::dynamic_pointer_cast<ns::ErrorObject>(e);
          block(std::dynamic_pointer_cast<ns::URLConnection>(c), error ? error->error() : ns::Error());
        });
  }
  if (auto dynamic = dynamicDelegateOf(connection))
    dynamic->implementMethod_withBlock(kDidFailWithError, wrapped);
}

bool URLConnectionBlocks::hasSuccessBlock(const ns::Ref<ns::URLConnection>& connection) {
  return static_cast<bool>(handler<SuccessBlock>(dynamicDelegateOf(connection), kSuccessKey));
}

bool URLConnectionBlocks::hasUploadBlock(const ns::Ref<ns::URLConnection>& connection) {
  return static_cast<bool>(handler<ProgressBlock>(dynamicDelegateOf(connection), kUploadKey));
}

bool URLConnectionBlocks::hasDownloadBlock(const ns::Ref<ns::URLConnection>& connection) {
  return static_cast<bool>(handler<ProgressBlock>(dynamicDelegateOf(connection), kDownloadKey));
}

ns::Ref<ns::Object> URLConnectionBlocks::delegate(const ns::Ref<ns::URLConnection>& connection) {
  return ns::URLConnectionObjectDelegateOf(connection);
}

void URLConnectionBlocks::setDelegate(const ns::Ref<ns::URLConnection>& connection,
                                      const ns::Ref<ns::Object>& delegate) {
  ns::URLConnectionSetObjectDelegate(connection, delegate);
}
