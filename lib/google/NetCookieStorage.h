#pragma once
// Cookies kept by the fetcher stack itself (per fetcher service, or once per process), apart
// from the URL loader's shared store. Matching follows RFC 6265: a cookie's domain must
// domain-match the request host (exactly, for a host-only cookie) and its path must path-match
// the request path; a secure cookie goes over https only.
#include <mutex>
#include <vector>

#include "platform/core/Object.h"
#include "platform/net/HTTPCookie.h"
#include "platform/net/URL.h"

class NetCookieStorageProtocol {
 public:
  virtual ~NetCookieStorageProtocol() = default;
  // The stored cookies for the URL, in stored order; empty when none match.
  virtual std::vector<ns::Ref<ns::HTTPCookie>> cookiesForURL(const ns::Ref<ns::URL>& url) = 0;
  virtual void setCookies(const std::vector<ns::Ref<ns::HTTPCookie>>& cookies) = 0;
};

class NetCookieStorage : public ns::Object, public NetCookieStorageProtocol {
 public:
  // Drops expired cookies, then replaces cookies of equal name, domain and path; a cookie whose
  // expiry date is not in the future only removes its stored twin.
  void setCookies(const std::vector<ns::Ref<ns::HTTPCookie>>& cookies) override;
  std::vector<ns::Ref<ns::HTTPCookie>> cookiesForURL(const ns::Ref<ns::URL>& url) override;
  void deleteCookie(const ns::Ref<ns::HTTPCookie>& cookie);
  // The stored cookie with the same name, domain and path, or null.
  ns::Ref<ns::HTTPCookie> cookieMatchingCookie(const ns::Ref<ns::HTTPCookie>& cookie) const;
  void removeExpiredCookies();
  void removeAllCookies();
  std::vector<ns::Ref<ns::HTTPCookie>> cookies() const;

  std::string className() const override { return "NetCookieStorage"; }

 private:
  void removeExpiredCookiesLocked();

  mutable std::mutex mutex_;
  std::vector<ns::Ref<ns::HTTPCookie>> cookies_;
};
