#pragma once
// The client of the beta checks: asks the service whether a newer beta build exists.
#include <functional>
#include <optional>
#include <string>

#include "CrashReporter/CRSClientBase.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

class CRSBetaClient : public CRSClientBase {
 public:
  using Completion = std::function<void(const ns::Value& update, const std::optional<ns::Error>& error)>;

  explicit CRSBetaClient(ns::Ref<ns::URL> url) : CRSClientBase(std::move(url)) {}
  static ns::Ref<CRSBetaClient> initWithURL(ns::Ref<ns::URL> url) {
    return ns::make<CRSBetaClient>(std::move(url));
  }

  // (update dictionary, nothing) or (nil, error); once, on the default-priority global queue.
  void getUpdateWithURL_completion(const ns::Ref<ns::URL>& url, Completion completion);
  // The URL with the build query; nullptr for a URL without absolute text.
  ns::Ref<ns::URL> appendUpdateQueryParamsToURL(const ns::Ref<ns::URL>& url) const;

  std::string className() const override { return "CRSBetaClient"; }
};
