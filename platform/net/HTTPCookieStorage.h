#pragma once
// The cookie store. The shared store serves every URL connection whose request handles cookies;
// other stores can be made for private use. Thread-safe.
//
// Cookies for a URL follow RFC 6265: a host-only cookie goes back to its host alone, a domain
// cookie to the domain and its subdomains, never to another site; the path must match; a secure
// cookie only travels over https; expired cookies are dropped.
#include <mutex>
#include <vector>

#include "platform/core/Date.h"
#include "platform/core/Object.h"
#include "platform/net/HTTPCookie.h"

namespace ns {

enum HTTPCookieAcceptPolicy : unsigned {
  HTTPCookieAcceptPolicyAlways = 0,
  HTTPCookieAcceptPolicyNever = 1,
  HTTPCookieAcceptPolicyOnlyFromMainDocumentDomain = 2,
};

class HTTPCookieStorage : public Object {
 public:
  static Ref<HTTPCookieStorage> sharedHTTPCookieStorage();

  // Stores the cookie, replacing one with the same name, domain and path; an expired cookie
  // removes the stored one instead. The accept policy is not consulted here.
  void setCookie(const Ref<HTTPCookie>& cookie);
  void deleteCookie(const Ref<HTTPCookie>& cookie);
  // Stores cookies a response to `url` set, as the accept policy allows: with
  // OnlyFromMainDocumentDomain a cookie is kept only when the main document's host domain-matches
  // the cookie's domain (a missing main document URL counts as the URL itself).
  void setCookies_forURL_mainDocumentURL(const std::vector<Ref<HTTPCookie>>& cookies, const Ref<URL>& url,
                                         const Ref<URL>& mainDocumentURL);
  std::vector<Ref<HTTPCookie>> cookies() const;
  // Longer paths first, then older cookies first.
  std::vector<Ref<HTTPCookie>> cookiesForURL(const Ref<URL>& url) const;
  void removeCookiesSinceDate(const Date& date);
  void removeAllCookies();

  HTTPCookieAcceptPolicy cookieAcceptPolicy() const;
  void setCookieAcceptPolicy(HTTPCookieAcceptPolicy policy);

  std::string className() const override { return "NSHTTPCookieStorage"; }

 private:
  struct Entry {
    Ref<HTTPCookie> cookie;
    Date created;
    unsigned long order;
  };
  void removeExpiredLocked(const Date& now) const;

  mutable std::mutex mutex_;
  mutable std::vector<Entry> entries_;
  unsigned long counter_ = 0;
  HTTPCookieAcceptPolicy policy_ = HTTPCookieAcceptPolicyAlways;
};

}  // namespace ns
