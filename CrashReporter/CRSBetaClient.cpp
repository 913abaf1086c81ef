#include "CrashReporter/CRSBetaClient.h"

#include "CrashReporter/CRSDebugLog.h"
#include "CrashReporter/CRSKeys.h"
#include "CrashReporter/CRSSystemInfo.h"

ns::Ref<ns::URL> CRSBetaClient::appendUpdateQueryParamsToURL(const ns::Ref<ns::URL>& url) const {
  if (!url || url->absoluteString().empty()) return nullptr;
  std::string text = url->absoluteString();
  text += "?build_version=" + CRSWebClient::escapeURLString(bundleVersion().value_or("(null)"));
  if (auto shortVersion = shortBundleVersion())
    text += "&display_version=" + CRSWebClient::escapeURLString(*shortVersion);
  text += "&instance=" + CRSWebClient::escapeURLString(instanceIdentifier());
  text += "&source=" + CRSWebClient::escapeURLString(sourceString());
  return ns::URL::URLWithString(text);
}

void CRSBetaClient::getUpdateWithURL_completion(const ns::Ref<ns::URL>& url, Completion completion) {
  auto finish = [completion](ns::Value update, std::optional<ns::Error> error) {
    dispatch::async(dispatch::globalQueue(dispatch::Priority::Default), [completion, update, error] {
      if (completion) completion(update, error);
    });
  };
  auto requestURL = appendUpdateQueryParamsToURL(url);
  if (!requestURL) {
    // Nothing to ask: the caller still hears once.
    finish({}, ns::Error(CRSBetaErrorDomain, -1));
    return;
  }
  auto request = CRSWebRequest::requestWithMethod_path("GET", "");
  request->setURL(requestURL);
  CRSDebugLog("[CrashReporter] Beta Update-Check url string: '%@'", requestURL->absoluteString());
  if (auto identity = identificationData()) {
    request->addValue_forHTTPHeaderField(CRSHexEncode(identity->bytes(), identity->length()),
                                         CRSHeaderIdentification);
  }
  request->addValue_forHTTPHeaderField(APIKey(), CRSHeaderAPIKey);
  webClient()->startRequest_completion(request, [completion](const ns::Ref<CRSWebResponse>& response) {
    CRSDebugLog("[CrashReporter] Beta update-check response: {status: %ld, error: %@}",
                static_cast<long>(response->statusCode()),
                response->error() ? response->error()->description() : std::string("(null)"));
    if (!completion) return;
    if (response->error()) return completion({}, response->error());
    if (response->wasSuccessful() && response->body().isDictionary()) {
      CRSDebugLog("[CrashReporter] Beta update body: %@", response->body());
      return completion(response->body(), std::nullopt);
    }
    completion({}, ns::Error(CRSBetaErrorDomain, -1));
  });
}
