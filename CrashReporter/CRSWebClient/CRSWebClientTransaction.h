#pragma once
// Runs one request over a URL connection and fills its response. The connection delivers onto
// the transaction's own serial queue, so status, headers, bytes and completion keep their order;
// the completion handler runs exactly once.
#include <functional>
#include <optional>
#include <string>

#include "CrashReporter/CRSWebClient/CRSWebRequest.h"
#include "CrashReporter/CRSWebClient/CRSWebResponse.h"
#include "platform/core/Object.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/URLConnection.h"

class CRSWebClientTransaction : public ns::Object, public ns::URLConnectionDelegate {
 public:
  using CompletionHandler = std::function<void(const ns::Ref<CRSWebResponse>&)>;

  explicit CRSWebClientTransaction(ns::Ref<CRSWebRequest> request);
  static ns::Ref<CRSWebClientTransaction> transactionWithRequest(ns::Ref<CRSWebRequest> request);
  static ns::Ref<CRSWebClientTransaction> initWithRequest(ns::Ref<CRSWebRequest> request) {
    return transactionWithRequest(std::move(request));
  }

  // On the transaction queue: keeps the handler and starts the connection.
  void startWithCompletionHandler(CompletionHandler handler);
  // Blocks the caller while the request runs; the body is then always the raw bytes.
  void syncStartWithCompletionHandler(CompletionHandler handler);

  const ns::Ref<CRSWebRequest>& request() const { return request_; }
  const ns::Ref<CRSWebResponse>& response() const { return response_; }
  const ns::Ref<dispatch::Queue>& queue() const { return queue_; }

  // ns::URLConnectionDelegate
  void connection_willSendRequestForAuthenticationChallenge(
      const ns::Ref<ns::URLConnection>& connection,
      const ns::Ref<ns::URLAuthenticationChallenge>& challenge) override;
  void connection_didReceiveResponse(const ns::Ref<ns::URLConnection>& connection,
                                     const ns::Ref<ns::URLResponse>& response) override;
  void connection_didReceiveData(const ns::Ref<ns::URLConnection>& connection, const ns::Data& data) override;
  void connectionDidFinishLoading(const ns::Ref<ns::URLConnection>& connection) override;
  void connection_didFailWithError(const ns::Ref<ns::URLConnection>& connection,
                                   const ns::Error& error) override;

  std::string className() const override { return "CRSWebClientTransaction"; }

 private:
  void startConnection();
  void syncStartConnection();
  void complete();
  // Past the request's maximum answer length: the connection stops, the bytes go, and the
  // request fails.
  bool exceedsMaximumLength(std::uint64_t length) const;
  void refuseOversizedAnswer();
  ns::Value objectFromReceivedData();
  void storeResponse(const ns::Ref<ns::URLResponse>& response, bool keepContentType);

  ns::Ref<CRSWebRequest> request_;
  ns::Ref<CRSWebResponse> response_;
  std::optional<std::string> contentType_;
  ns::Ref<dispatch::Queue> queue_;
  CompletionHandler completionHandler_;
  ns::Ref<ns::URLConnection> connection_;
  bool started_ = false;
};
