#include "CrashReporter/CRSWebClient/CRSWebClientTransaction.h"

#include "CrashReporter/CRSWebClient/CRSWebClient.h"
#include "platform/core/Exception.h"
#include "platform/net/URLErrorCodes.h"
#include "platform/net/URLResponse.h"
#include "platform/serialization/PropertyListSerialization.h"

namespace {

[[noreturn]] void preconditionFailed(const char* what) {
  ns::Exception::raise("NSInternalInconsistencyException", what);
}

}  // namespace

CRSWebClientTransaction::CRSWebClientTransaction(ns::Ref<CRSWebRequest> request)
    : request_(std::move(request)),
      response_(ns::make<CRSWebResponse>()),
      queue_(dispatch::queueCreate("com.crashreporter.web-transaction")) {}

ns::Ref<CRSWebClientTransaction> CRSWebClientTransaction::transactionWithRequest(
    ns::Ref<CRSWebRequest> request) {
  return ns::make<CRSWebClientTransaction>(std::move(request));
}

void CRSWebClientTransaction::startWithCompletionHandler(CompletionHandler handler) {
  auto self = std::static_pointer_cast<CRSWebClientTransaction>(shared_from_this());
  dispatch::async(queue_, [self, handler = std::move(handler)]() mutable {
    self->completionHandler_ = std::move(handler);
    self->startConnection();
  });
}

void CRSWebClientTransaction::syncStartWithCompletionHandler(CompletionHandler handler) {
  completionHandler_ = std::move(handler);
  syncStartConnection();
}

void CRSWebClientTransaction::startConnection() {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  if (started_) preconditionFailed("_connection == nil");
  started_ = true;
  auto urlRequest = request_->URLRequest();
  if (!urlRequest) {
    // A URL that does not parse reaches no server; the caller still hears of it once.
    response_->setError(ns::Error(ns::NSURLErrorDomain, ns::URLErrorBadURL));
    complete();
    return;
  }
  response_->setRequestURL(urlRequest->URL());
  auto self = std::static_pointer_cast<CRSWebClientTransaction>(shared_from_this());
  connection_ = ns::URLConnection::initWithRequest_delegate_startImmediately(urlRequest, self, false);
  connection_->setDelegateQueue(queue_);
  connection_->start();
}

void CRSWebClientTransaction::syncStartConnection() {
  if (started_) preconditionFailed("_connection == nil");
  started_ = true;
  auto urlRequest = request_->URLRequest();
  if (!urlRequest) {
    response_->setError(ns::Error(ns::NSURLErrorDomain, ns::URLErrorBadURL));
    complete();
    return;
  }
  response_->setRequestURL(urlRequest->URL());
  ns::Ref<ns::URLResponse> response;
  ns::Error error;
  auto data =
      ns::URLConnection::sendSynchronousRequest_returningResponse_error(urlRequest, &response, &error);
  if (!data) response_->setError(error);
  storeResponse(response, false);
  if (data && exceedsMaximumLength(data->length())) return refuseOversizedAnswer();
  if (data) response_->mutableResponseData().appendData(*data);
  complete();
}

void CRSWebClientTransaction::storeResponse(const ns::Ref<ns::URLResponse>& response, bool keepContentType) {
  auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response);
  if (!http) return;
  response_->setStatusCode(static_cast<std::uint64_t>(http->statusCode()));
  response_->setResponseHeaders(http->allHeaderFields());
  if (!keepContentType) return;
  std::string type = http->valueForHTTPHeaderField("Content-Type").value_or("");
  if (type.find("application/x-plist") != std::string::npos) {
    contentType_ = "application/x-plist";
  } else if (type.find("application/json") != std::string::npos) {
    contentType_ = "application/json";
  } else {
    contentType_.reset();
  }
}

void CRSWebClientTransaction::connection_willSendRequestForAuthenticationChallenge(
    const ns::Ref<ns::URLConnection>& connection, const ns::Ref<ns::URLAuthenticationChallenge>& challenge) {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  auto sender = challenge->sender();
  const auto& space = challenge->protectionSpace();
  if (space && space->authenticationMethod() == ns::URLAuthenticationMethodServerTrust) {
    // A server trust is for the request's handler, when it has one; otherwise the platform
    // evaluates it.
    const auto& handler = request_->protectionSpaceHandler();
    if (handler && handler(space)) {
      if (sender)
        sender->useCredential_forAuthenticationChallenge(ns::URLCredential::credentialForTrust(), challenge);
    } else if (sender) {
      sender->performDefaultHandlingForAuthenticationChallenge(challenge);
    }
    return;
  }
  // The service asks for no other authentication: give up on the request.
  connection->cancel();
  response_->setError(ns::Error(CRSWebClientErrorDomain, -2));
  complete();
}

void CRSWebClientTransaction::connection_didReceiveResponse(const ns::Ref<ns::URLConnection>&,
                                                            const ns::Ref<ns::URLResponse>& response) {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  storeResponse(response, true);
  // A declared length already past the bound: nothing of the body is read.
  std::int64_t declared = response ? response->expectedContentLength() : -1;
  if (declared > 0 && exceedsMaximumLength(static_cast<std::uint64_t>(declared))) refuseOversizedAnswer();
}

void CRSWebClientTransaction::connection_didReceiveData(const ns::Ref<ns::URLConnection>&,
                                                        const ns::Data& data) {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  if (exceedsMaximumLength(response_->responseData().length() + data.length()))
    return refuseOversizedAnswer();
  response_->mutableResponseData().appendData(data);
}

bool CRSWebClientTransaction::exceedsMaximumLength(std::uint64_t length) const {
  std::uint64_t limit = request_->maximumResponseLength();
  return limit != 0 && length > limit;
}

void CRSWebClientTransaction::refuseOversizedAnswer() {
  if (connection_) connection_->cancel();
  response_->mutableResponseData() = ns::MutableData();
  response_->setError(ns::Error::withDescription(
      CRSWebClientErrorDomain, -3,
      "The answer is longer than " + std::to_string(request_->maximumResponseLength()) + " bytes"));
  complete();
}

void CRSWebClientTransaction::connectionDidFinishLoading(const ns::Ref<ns::URLConnection>&) {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  complete();
}

void CRSWebClientTransaction::connection_didFailWithError(const ns::Ref<ns::URLConnection>&,
                                                          const ns::Error& error) {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  response_->setError(error);
  complete();
}

void CRSWebClientTransaction::complete() {
  if (!completionHandler_) preconditionFailed("_completionHandler");
  response_->setBody(objectFromReceivedData());
  auto handler = std::move(completionHandler_);
  completionHandler_ = nullptr;
  connection_.reset();
  handler(response_);
}

ns::Value CRSWebClientTransaction::objectFromReceivedData() {
  const auto& bytes = response_->responseData();
  if (bytes.empty()) return {};
  ns::Data data = bytes.copy();
  if (contentType_ == "application/json") return CRSWebClient::decodeJSON(data);
  if (contentType_ == "application/x-plist") {
    ns::Error error;
    ns::Value plist = ns::PropertyListSerialization::propertyListWithData(data, &error);
    if (plist.isNil() && !response_->error()) response_->setError(error);
    return plist;
  }
  return ns::Value(data);
}
