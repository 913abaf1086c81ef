#pragma once
// HTTP cookies. A cookie made from a Set-Cookie header with a Domain attribute keeps the domain
// with a leading "." (it then matches subdomains); a host-only cookie keeps the bare host.
//
//   auto cookies = ns::HTTPCookie::cookiesWithResponseHeaderFields_forURL(response->allHeaderFields(), url);
//   auto header = ns::HTTPCookie::requestHeaderFieldsWithCookies(cookies);   // {"Cookie": "a=1; b=2"}
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Date.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URL.h"

namespace ns {

// Keys of a cookie's property dictionary.
inline constexpr char HTTPCookieName[] = "Name";
inline constexpr char HTTPCookieValue[] = "Value";
inline constexpr char HTTPCookieDomain[] = "Domain";
inline constexpr char HTTPCookiePath[] = "Path";
inline constexpr char HTTPCookieExpires[] = "Expires";
inline constexpr char HTTPCookieMaximumAge[] = "Max-Age";
inline constexpr char HTTPCookieSecure[] = "Secure";
inline constexpr char HTTPCookieDiscard[] = "Discard";
inline constexpr char HTTPCookieOriginURL[] = "OriginURL";
inline constexpr char HTTPCookieVersion[] = "Version";
inline constexpr char HTTPCookieComment[] = "Comment";
inline constexpr char HTTPCookieHTTPOnly[] = "HttpOnly";

class HTTPCookie : public Object {
 public:
  struct Fields {
    std::string name;
    std::string value;
    std::string domain;  // ".example.test" for a domain cookie, "www.example.test" for host-only
    std::string path = "/";
    std::optional<Date> expiresDate;  // none: a session cookie
    bool secure = false;
    bool httpOnly = false;
    std::optional<std::string> comment;
    unsigned version = 0;
  };

  explicit HTTPCookie(Fields fields);
  // Nothing when the name, value or path is missing or a domain cannot be worked out (from
  // Domain or OriginURL).
  static Ref<HTTPCookie> cookieWithProperties(const Dictionary& properties);

  // Every well-formed cookie of the response's Set-Cookie field(s) that the URL's host may set:
  // a Domain attribute the host does not domain-match (another site, or a bare top-level name)
  // drops the cookie. A missing Path takes the folder of the URL's path.
  static std::vector<Ref<HTTPCookie>> cookiesWithResponseHeaderFields_forURL(const HTTPHeaderFields& headers,
                                                                             const Ref<URL>& url);
  // Parses Set-Cookie lines kept apart (a header may be repeated).
  static std::vector<Ref<HTTPCookie>> cookiesWithSetCookieLines_forURL(const std::vector<std::string>& lines,
                                                                       const Ref<URL>& url);
  // {"Cookie": "n1=v1; n2=v2"}, empty for no cookies.
  static HTTPHeaderFields requestHeaderFieldsWithCookies(const std::vector<Ref<HTTPCookie>>& cookies);

  const std::string& name() const { return f_.name; }
  const std::string& value() const { return f_.value; }
  const std::string& domain() const { return f_.domain; }
  const std::string& path() const { return f_.path; }
  const std::optional<Date>& expiresDate() const { return f_.expiresDate; }
  bool isSessionOnly() const { return !f_.expiresDate.has_value(); }
  bool isSecure() const { return f_.secure; }
  bool isHTTPOnly() const { return f_.httpOnly; }
  bool isHostOnly() const { return f_.domain.empty() || f_.domain.front() != '.'; }
  const std::optional<std::string>& comment() const { return f_.comment; }
  unsigned version() const { return f_.version; }
  Dictionary properties() const;
  const Fields& fields() const { return f_; }

  bool isExpiredAt(const Date& now) const {
    return f_.expiresDate && f_.expiresDate->timeIntervalSince1970() <= now.timeIntervalSince1970();
  }
  // The host domain-matches this cookie's domain (exact for host-only cookies).
  bool matchesHost(std::string_view host) const;
  // RFC 6265 path-match of a request path.
  bool matchesPath(std::string_view requestPath) const;
  // Domain, path and the secure flag all allow sending the cookie to the URL.
  bool isAllowedForURL(const URL& url) const;

  // Equal name, domain (without case) and path: the identity a store replaces by.
  bool isSameIdentity(const HTTPCookie& other) const;
  bool isEqual(const Object* other) const override;
  std::size_t hash() const override;
  std::string className() const override { return "NSHTTPCookie"; }
  std::string description() const override;

  // Parses the date forms servers use in Expires (RFC 1123, RFC 850, asctime and the lenient
  // forms of RFC 6265); nothing when it cannot be read.
  static std::optional<Date> parseCookieDate(std::string_view text);

 private:
  Fields f_;
};

}  // namespace ns
