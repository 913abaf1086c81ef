#include "CrashReporter/CRSWebClient/CRSWebClient.h"

#include "platform/net/PercentEncoding.h"
#include "platform/serialization/JSONSerialization.h"

CRSWebClient::CRSWebClient(ns::Ref<ns::URL> url)
    : url_(std::move(url)), queue_(dispatch::queueCreate("com.crashreporter.rest-client")) {
  customHeaders_.set("Accept", "application/json, application/x-plist");
}

void CRSWebClient::addValue_forHeader(const std::string& value, const std::string& header) {
  dispatch::sync(queue_, [&] { customHeaders_.set(header, value); });
}

ns::HTTPHeaderFields CRSWebClient::customHeaders() const {
  ns::HTTPHeaderFields headers;
  dispatch::sync(queue_, [&] { headers = customHeaders_; });
  return headers;
}

std::size_t CRSWebClient::connectionCount() const {
  std::size_t count = 0;
  dispatch::sync(queue_, [&] { count = connections_.size(); });
  return count;
}

ns::Ref<CRSWebClientTransaction> CRSWebClient::prepare(const ns::Ref<CRSWebRequest>& request) {
  DISPATCH_DEBUG_ASSERT_QUEUE(queue_);
  if (!request->URL()) request->setURL(ns::URL::URLWithString_relativeToURL(request->path(), url_));
  request->addHeaders(customHeaders_);
  auto transaction = CRSWebClientTransaction::transactionWithRequest(request);
  connections_.insert(transaction);
  return transaction;
}

// A running transaction keeps its client alive, so that every started request still reaches its
// completion when the client's owner has let go.
void CRSWebClient::startRequest_completion(ns::Ref<CRSWebRequest> request, Completion completion) {
  auto self = std::static_pointer_cast<CRSWebClient>(shared_from_this());
  dispatch::async(queue_, [self, request = std::move(request), completion = std::move(completion)] {
    auto transaction = self->prepare(request);
    transaction->startWithCompletionHandler(
        [self, transaction, completion](const ns::Ref<CRSWebResponse>& response) {
          dispatch::async(dispatch::globalQueue(dispatch::Priority::Default), [completion, response] {
            if (completion) completion(response);
          });
          dispatch::async(self->queue_, [self, transaction] { self->connections_.erase(transaction); });
        });
  });
}

void CRSWebClient::syncStartRequest_completion(ns::Ref<CRSWebRequest> request, Completion completion) {
  ns::Ref<CRSWebClientTransaction> transaction;
  dispatch::sync(queue_, [&] { transaction = prepare(request); });
  dispatch::sync(queue_, [&] {
    transaction->syncStartWithCompletionHandler([&](const ns::Ref<CRSWebResponse>& response) {
      if (completion) completion(response);
      connections_.erase(transaction);
    });
  });
}

CRSWebClient::Completion CRSWebClient::expecting(std::uint64_t status, Completion completion) {
  if (!completion) return nullptr;
  return [status, completion = std::move(completion)](const ns::Ref<CRSWebResponse>& response) {
    if (!response->error() && response->statusCode() != status) {
      response->setError(ns::Error(CRSWebClientErrorDomain, -1));
    }
    completion(response);
  };
}

void CRSWebClient::startRequest_expectingResponse_completion(ns::Ref<CRSWebRequest> request,
                                                             std::uint64_t status, Completion completion) {
  startRequest_completion(std::move(request), expecting(status, std::move(completion)));
}

void CRSWebClient::syncStartRequest_expectingResponse_completion(ns::Ref<CRSWebRequest> request,
                                                                 std::uint64_t status,
                                                                 Completion completion) {
  syncStartRequest_completion(std::move(request), expecting(status, std::move(completion)));
}

void CRSWebClient::getPath_completion(const std::string& path, Completion completion) {
  getURL_completion(ns::URL::URLWithString_relativeToURL(path, url_), std::move(completion));
}

void CRSWebClient::getURL_completion(ns::Ref<ns::URL> url, Completion completion) {
  auto self = std::static_pointer_cast<CRSWebClient>(shared_from_this());
  dispatch::async(queue_, [self, url = std::move(url), completion = std::move(completion)]() mutable {
    auto request = CRSWebRequest::requestWithMethod_path("GET", url ? url->relativePath() : std::string());
    request->setURL(url);
    self->startRequest_completion(request, std::move(completion));
  });
}

void CRSWebClient::postFormData_toPath_completion(const ns::Dictionary& formData, const std::string& path,
                                                  Completion completion) {
  auto self = std::static_pointer_cast<CRSWebClient>(shared_from_this());
  dispatch::async(queue_, [self, formData, path, completion = std::move(completion)]() mutable {
    auto request = CRSWebRequest::requestWithMethod_path("POST", path);
    request->setFormData(formData);
    self->startRequest_completion(request, std::move(completion));
  });
}

std::string CRSWebClient::escapeURLString(std::string_view text) {
  std::string once = ns::stringByAddingPercentEscapesUsingEncoding(text);
  return ns::stringByAddingPercentEscapesUsingEncoding(once, "!*'\"();:@&=+$,/?#[] ", "%");
}

ns::Value CRSWebClient::decodeJSON(const ns::Data& data) {
  return ns::JSONSerialization::JSONObjectWithData_options_error(data, 0, nullptr);
}
