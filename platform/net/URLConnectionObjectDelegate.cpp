#include "platform/net/URLConnectionObjectDelegate.h"

#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace ns {

namespace {

const Sel kWillSendRequest("connection:willSendRequest:redirectResponse:");
const Sel kWillSendChallenge("connection:willSendRequestForAuthenticationChallenge:");
const Sel kDidReceiveChallenge("connection:didReceiveAuthenticationChallenge:");
const Sel kDidReceiveResponse("connection:didReceiveResponse:");
const Sel kDidReceiveData("connection:didReceiveData:");
const Sel kDidSendBodyData("connection:didSendBodyData:totalBytesWritten:totalBytesExpectedToWrite:");
const Sel kDidFinishLoading("connectionDidFinishLoading:");
const Sel kDidFailWithError("connection:didFailWithError:");

Ref<Object> delegateGetter(URLConnection* self, Sel) {
  auto adapter = std::dynamic_pointer_cast<URLConnectionObjectDelegate>(self->delegate());
  return adapter ? adapter->object() : nullptr;
}

void delegateSetter(URLConnection* self, Sel, Ref<Object> delegate) {
  self->setDelegate(delegate ? make<URLConnectionObjectDelegate>(std::move(delegate)) : nullptr);
}

}  // namespace

// The loading methods stand in the base protocol too, as the emulated system version still
// declares them there, so closures bound through it can answer them.
#define PL_URL_CONNECTION_LOADING_METHODS(proto)                                                     \
  proto.optional<Ref<URLRequest>(Ref<URLConnection>, Ref<URLRequest>, Ref<URLResponse>)>(            \
      "connection:willSendRequest:redirectResponse:");                                               \
  proto.optional<void(Ref<URLConnection>, Ref<URLResponse>)>("connection:didReceiveResponse:");      \
  proto.optional<void(Ref<URLConnection>, Data)>("connection:didReceiveData:");                      \
  proto.optional<Ref<Object>(Ref<URLConnection>, Ref<URLRequest>)>("connection:needNewBodyStream:"); \
  proto.optional<void(Ref<URLConnection>, long, long, long)>(                                        \
      "connection:didSendBodyData:totalBytesWritten:totalBytesExpectedToWrite:");                    \
  proto.optional<Ref<CachedURLResponse>(Ref<URLConnection>, Ref<CachedURLResponse>)>(                \
      "connection:willCacheResponse:");                                                              \
  proto.optional<void(Ref<URLConnection>)>("connectionDidFinishLoading:")

PL_PROTOCOL(NSURLConnectionDelegate) {
  proto.adopts("NSObject");
  proto.optional<void(Ref<URLConnection>, Ref<ErrorObject>)>("connection:didFailWithError:");
  proto.optional<BOOL(Ref<URLConnection>)>("connectionShouldUseCredentialStorage:");
  proto.optional<void(Ref<URLConnection>, Ref<URLAuthenticationChallenge>)>(
      "connection:willSendRequestForAuthenticationChallenge:");
  proto.optional<BOOL(Ref<URLConnection>, Ref<URLProtectionSpace>)>(
      "connection:canAuthenticateAgainstProtectionSpace:");
  proto.optional<void(Ref<URLConnection>, Ref<URLAuthenticationChallenge>)>(
      "connection:didReceiveAuthenticationChallenge:");
  PL_URL_CONNECTION_LOADING_METHODS(proto);
}

PL_PROTOCOL(NSURLConnectionDataDelegate) {
  proto.adopts("NSURLConnectionDelegate");
  PL_URL_CONNECTION_LOADING_METHODS(proto);
}

// The receiving methods of a connection that reports to closures.
PL_PROTOCOL(BlockURLConnectionInformalDelegate) {
  proto.optional<void(Ref<URLConnection>, Ref<URLResponse>)>("connection:didReceiveResponse:");
  proto.optional<void(Ref<URLConnection>, Data)>("connection:didReceiveData:");
  proto.optional<void(Ref<URLConnection>, long, long, long)>(
      "connection:didSendBodyData:totalBytesWritten:totalBytesExpectedToWrite:");
  proto.optional<void(Ref<URLConnection>)>("connectionDidFinishLoading:");
  proto.optional<void(Ref<URLConnection>, Ref<ErrorObject>)>("connection:didFailWithError:");
}

PL_CLASS_NAMED(URLConnection, "NSURLConnection", Object) {
  cls.method<&delegateGetter>("delegate");
  cls.method<&delegateSetter>("setDelegate:");
  cls.declaredProperty("delegate", "T@\"<NSURLConnectionDelegate>\",R,N");
}

Ref<URLRequest> URLConnectionObjectDelegate::connection_willSendRequest_redirectResponse(
    const Ref<URLConnection>& connection, const Ref<URLRequest>& request,
    const Ref<URLResponse>& redirectResponse) {
  if (!respondsToSelector(object_, kWillSendRequest)) return request;
  return send<Ref<URLRequest>>(object_, kWillSendRequest, connection, request, redirectResponse);
}

void URLConnectionObjectDelegate::connection_willSendRequestForAuthenticationChallenge(
    const Ref<URLConnection>& connection, const Ref<URLAuthenticationChallenge>& challenge) {
  if (respondsToSelector(object_, kWillSendChallenge)) {
    send<void>(object_, kWillSendChallenge, connection, challenge);
  } else if (respondsToSelector(object_, kDidReceiveChallenge)) {
    send<void>(object_, kDidReceiveChallenge, connection, challenge);
  } else {
    URLConnectionDelegate::connection_willSendRequestForAuthenticationChallenge(connection, challenge);
  }
}

void URLConnectionObjectDelegate::connection_didReceiveResponse(const Ref<URLConnection>& connection,
                                                                const Ref<URLResponse>& response) {
  if (respondsToSelector(object_, kDidReceiveResponse))
    send<void>(object_, kDidReceiveResponse, connection, response);
}

void URLConnectionObjectDelegate::connection_didReceiveData(const Ref<URLConnection>& connection,
                                                            const Data& data) {
  if (respondsToSelector(object_, kDidReceiveData)) send<void>(object_, kDidReceiveData, connection, data);
}

void URLConnectionObjectDelegate::connection_didSendBodyData_totalBytesWritten_totalBytesExpectedToWrite(
    const Ref<URLConnection>& connection, long bytesWritten, long totalBytesWritten,
    long totalBytesExpectedToWrite) {
  if (respondsToSelector(object_, kDidSendBodyData))
    send<void>(object_, kDidSendBodyData, connection, bytesWritten, totalBytesWritten,
               totalBytesExpectedToWrite);
}

void URLConnectionObjectDelegate::connectionDidFinishLoading(const Ref<URLConnection>& connection) {
  if (respondsToSelector(object_, kDidFinishLoading)) send<void>(object_, kDidFinishLoading, connection);
}

void URLConnectionObjectDelegate::connection_didFailWithError(const Ref<URLConnection>& connection,
                                                              const Error& error) {
  if (respondsToSelector(object_, kDidFailWithError))
    send<void>(object_, kDidFailWithError, connection, make<ErrorObject>(error));
}

Ref<Object> URLConnectionObjectDelegateOf(const Ref<URLConnection>& connection) {
  return send<Ref<Object>>(connection, Sel("delegate"));
}

void URLConnectionSetObjectDelegate(const Ref<URLConnection>& connection, const Ref<Object>& delegate) {
  send<void>(connection, Sel("setDelegate:"), delegate);
}

}  // namespace ns
