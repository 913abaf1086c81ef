#pragma once
// A base URL, default headers, the running transactions and a serial queue. Completions run on
// the default-priority global queue, never on the client queue.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "CrashReporter/CRSWebClient/CRSWebClientTransaction.h"
#include "CrashReporter/CRSWebClient/CRSWebRequest.h"
#include "CrashReporter/CRSWebClient/CRSWebResponse.h"
#include "platform/core/Object.h"
#include "platform/dispatch/Queue.h"

inline constexpr char CRSWebClientErrorDomain[] = "CRSWebClientErrorDomain";

// Kept for a persistence cache; the client stores it and never asks it anything.
class CRSPersistenceCacheDelegate {
 public:
  virtual ~CRSPersistenceCacheDelegate() = default;
};

class CRSWebClient : public ns::Object {
 public:
  using Completion = std::function<void(const ns::Ref<CRSWebResponse>&)>;

  explicit CRSWebClient(ns::Ref<ns::URL> url);
  static ns::Ref<CRSWebClient> initWithURL(ns::Ref<ns::URL> url) {
    return ns::make<CRSWebClient>(std::move(url));
  }

  const ns::Ref<ns::URL>& URL() const { return url_; }
  // Waits on the client queue: not to be called from it.
  void addValue_forHeader(const std::string& value, const std::string& header);
  ns::HTTPHeaderFields customHeaders() const;
  std::size_t connectionCount() const;

  void startRequest_completion(ns::Ref<CRSWebRequest> request, Completion completion);
  void syncStartRequest_completion(ns::Ref<CRSWebRequest> request, Completion completion);
  // A response without error whose status differs from `status` gets CRSWebClientErrorDomain -1.
  void startRequest_expectingResponse_completion(ns::Ref<CRSWebRequest> request, std::uint64_t status,
                                                 Completion completion);
  void syncStartRequest_expectingResponse_completion(ns::Ref<CRSWebRequest> request, std::uint64_t status,
                                                     Completion completion);
  void getPath_completion(const std::string& path, Completion completion);
  void getURL_completion(ns::Ref<ns::URL> url, Completion completion);
  void postFormData_toPath_completion(const ns::Dictionary& formData, const std::string& path,
                                      Completion completion);

  // Escapes every byte but letters, digits and "-._~" (the legacy escaping, then the reserved
  // characters).
  static std::string escapeURLString(std::string_view text);
  // The JSON object in the data, nil when it does not parse.
  static ns::Value decodeJSON(const ns::Data& data);

  std::shared_ptr<CRSPersistenceCacheDelegate> cacheDelegate() const { return cacheDelegate_.lock(); }
  void setCacheDelegate(const std::shared_ptr<CRSPersistenceCacheDelegate>& delegate) {
    cacheDelegate_ = delegate;
  }

  std::string className() const override { return "CRSWebClient"; }

 private:
  ns::Ref<CRSWebClientTransaction> prepare(const ns::Ref<CRSWebRequest>& request);
  static Completion expecting(std::uint64_t status, Completion completion);

  ns::Ref<ns::URL> url_;
  std::set<ns::Ref<CRSWebClientTransaction>> connections_;
  ns::HTTPHeaderFields customHeaders_;
  ns::Ref<dispatch::Queue> queue_;
  std::weak_ptr<CRSPersistenceCacheDelegate> cacheDelegate_;
};
