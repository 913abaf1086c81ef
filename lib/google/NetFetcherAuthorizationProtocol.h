#pragma once
// The request signer a fetcher (or a fetcher service) holds; the OAuth 2.0 authentication object
// is one. Methods an authorizer may leave out have default bodies that do what "not
// implemented" does for the fetcher.
#include <optional>
#include <string>

#include "lib/google/CallbackSelector.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/net/URLRequest.h"

class NetHTTPFetcherService;

class NetFetcherAuthorizationProtocol {
 public:
  // authorizer:request:finishedWithError:
  using FinishedSelector =
      CallbackSelector<void(const ns::Ref<NetFetcherAuthorizationProtocol>& authorizer,
                            const ns::Ref<ns::URLRequest>& request, const std::optional<ns::Error>& error)>;

  virtual ~NetFetcherAuthorizationProtocol() = default;

  // Whether the request already carries what the authorizer would add.
  virtual bool isAuthorizedRequest(const ns::Ref<ns::URLRequest>& request) = 0;

  // Signs the request (it may first refresh a token) and then sends `selector` to `delegate`.
  // Answers false when the authorizer cannot sign asynchronously: the fetch then goes out as it
  // is, without waiting.
  virtual bool authorizeRequest_delegate_didFinishSelector(const ns::Ref<ns::URLRequest>& request,
                                                           const ns::Ref<ns::Object>& delegate,
                                                           const FinishedSelector& selector) {
    return false;
  }
  virtual bool isAuthorizingRequest(const ns::Ref<ns::URLRequest>& request) { return false; }
  virtual void stopAuthorization() {}
  virtual void stopAuthorizationForRequest(const ns::Ref<ns::URLRequest>& request) {}
  // Forgets the access token so that the next authorization refreshes it; false when that is not
  // possible (then a 401 is final).
  virtual bool primeForRefresh() { return false; }
  virtual bool canAuthorize() { return false; }
  virtual std::optional<std::string> userEmail() { return std::nullopt; }

  // The fetcher service using this authorizer (not retained). The default keeps none.
  virtual ns::Ref<NetHTTPFetcherService> fetcherService() { return nullptr; }
  virtual void setFetcherService(const ns::Ref<NetHTTPFetcherService>& service) {}
};
