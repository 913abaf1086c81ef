#include "platform/net/HTTPCookie.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>

#include "platform/core/Format.h"
#include "platform/net/HTTPText.h"

namespace ns {

namespace {

using httptext::lower;
using httptext::trim;

bool isIPAddress(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// RFC 6265 section 5.1.3, `domain` without a leading dot.
bool domainMatches(const std::string& host, const std::string& domain) {
  if (host == domain) return true;
  if (domain.empty() || host.size() <= domain.size()) return false;
  return host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
         host[host.size() - domain.size() - 1] == '.' && !isIPAddress(host);
}

// RFC 6265 section 5.1.4: the folder of the request path.
std::string defaultPath(const URL& url) {
  std::string p = url.percentEncodedPath();
  if (p.empty() || p.front() != '/') return "/";
  auto slash = p.rfind('/');
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

// Splits a joined Set-Cookie value at the commas that begin a new cookie: a comma followed by
// "name=" before the next ";" (the comma inside an Expires date is followed by a day number).
std::vector<std::string> splitJoinedSetCookie(std::string_view value) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != ',') continue;
    std::string_view rest = value.substr(i + 1);
    auto end = rest.find_first_of(";,");
    std::string_view head = rest.substr(0, end);
    if (head.find('=') != std::string_view::npos) {
      out.emplace_back(value.substr(start, i - start));
      start = i + 1;
    }
  }
  out.emplace_back(value.substr(start));
  return out;
}

Ref<HTTPCookie> parseSetCookie(std::string_view line, const URL& url, const Date& now) {
  auto host = url.host();
  if (!host || host->empty()) return nullptr;
  std::string requestHost = lower(*host);

  auto semi = line.find(';');
  std::string pair = trim(line.substr(0, semi));
  auto eq = pair.find('=');
  if (eq == std::string::npos) return nullptr;
  HTTPCookie::Fields f;
  f.name = trim(std::string_view(pair).substr(0, eq));
  f.value = trim(std::string_view(pair).substr(eq + 1));
  if (f.name.empty()) return nullptr;
  for (unsigned char c : f.name + f.value)
    if (c < 0x20 || c == 0x7f) return nullptr;

  std::optional<std::string> domainAttr;
  std::optional<std::string> pathAttr;
  std::optional<Date> expires;
  std::optional<Date> maxAgeDate;
  while (semi != std::string_view::npos) {
    auto next = line.find(';', semi + 1);
    std::string attr = trim(
        line.substr(semi + 1, next == std::string_view::npos ? std::string_view::npos : next - semi - 1));
    semi = next;
    auto aeq = attr.find('=');
    std::string key = lower(trim(std::string_view(attr).substr(0, aeq)));
    std::string val = aeq == std::string::npos ? std::string() : trim(std::string_view(attr).substr(aeq + 1));
    if (key == "expires") {
      if (auto d = HTTPCookie::parseCookieDate(val)) expires = d;
    } else if (key == "max-age") {
      if (val.empty() || !(std::isdigit(static_cast<unsigned char>(val[0])) || val[0] == '-')) continue;
      char* end = nullptr;
      long long seconds = std::strtoll(val.c_str(), &end, 10);
      if (*end) continue;
      maxAgeDate =
          seconds <= 0 ? Date::distantPast() : now.dateByAddingTimeInterval(static_cast<double>(seconds));
    } else if (key == "domain") {
      std::string d = lower(val);
      while (!d.empty() && d.front() == '.') d.erase(0, 1);
      if (!d.empty()) domainAttr = d;
    } else if (key == "path") {
      if (!val.empty() && val.front() == '/') pathAttr = val;
    } else if (key == "secure") {
      f.secure = true;
    } else if (key == "httponly") {
      f.httpOnly = true;
    } else if (key == "comment") {
      f.comment = val;
    } else if (key == "version") {
      f.version = static_cast<unsigned>(std::strtoul(val.c_str(), nullptr, 10));
    }
  }

  if (domainAttr) {
    // A host may set a cookie for itself or a parent domain, never for another site or for a
    // bare top-level name that every site shares.
    if (!domainMatches(requestHost, *domainAttr)) return nullptr;
    if (domainAttr->find('.') == std::string::npos && *domainAttr != requestHost) return nullptr;
    if (*domainAttr == requestHost && isIPAddress(requestHost))
      f.domain = requestHost;
    else
      f.domain = "." + *domainAttr;
  } else {
    f.domain = requestHost;
  }
  f.path = pathAttr ? *pathAttr : defaultPath(url);
  f.expiresDate = maxAgeDate ? maxAgeDate : expires;
  return make<HTTPCookie>(std::move(f));
}

int monthIndex(std::string_view token) {
  static const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                  "jul", "aug", "sep", "oct", "nov", "dec"};
  if (token.size() < 3) return -1;
  std::string t = lower(token.substr(0, 3));
  for (int i = 0; i < 12; ++i)
    if (t == kMonths[i]) return i;
  return -1;
}

}  // namespace

HTTPCookie::HTTPCookie(Fields fields) : f_(std::move(fields)) {}

Ref<HTTPCookie> HTTPCookie::cookieWithProperties(const Dictionary& properties) {
  Fields f;
  auto name = properties[HTTPCookieName].optionalString();
  auto value = properties[HTTPCookieValue].optionalString();
  if (!name || name->empty() || !value) return nullptr;
  f.name = *name;
  f.value = *value;
  if (auto domain = properties[HTTPCookieDomain].optionalString(); domain && !domain->empty()) {
    f.domain = lower(*domain);
  } else if (auto origin = properties[HTTPCookieOriginURL].optionalString()) {
    auto url = URL::URLWithString(*origin);
    if (!url || !url->host()) return nullptr;
    f.domain = lower(*url->host());
  } else {
    return nullptr;
  }
  auto path = properties[HTTPCookiePath].optionalString();
  if (!path) return nullptr;
  f.path = *path;
  const Value& expires = properties[HTTPCookieExpires];
  if (expires.isDate())
    f.expiresDate = expires.date();
  else if (expires.isString())
    f.expiresDate = parseCookieDate(expires.string());
  const Value& maxAge = properties[HTTPCookieMaximumAge];
  if (!maxAge.isNil()) f.expiresDate = Date::now().dateByAddingTimeInterval(maxAge.doubleValue());
  if (properties[HTTPCookieDiscard].boolValue() || properties[HTTPCookieDiscard].stringValue() == "TRUE")
    f.expiresDate.reset();
  const Value& secure = properties[HTTPCookieSecure];
  f.secure = secure.isString()
                 ? (secure.string() == "TRUE" || secure.string() == "1" || lower(secure.string()) == "yes")
                 : secure.boolValue();
  f.httpOnly =
      properties[HTTPCookieHTTPOnly].boolValue() || properties[HTTPCookieHTTPOnly].stringValue() == "TRUE";
  f.comment = properties[HTTPCookieComment].optionalString();
  f.version = static_cast<unsigned>(properties[HTTPCookieVersion].intValue());
  return make<HTTPCookie>(std::move(f));
}

std::vector<Ref<HTTPCookie>> HTTPCookie::cookiesWithSetCookieLines_forURL(
    const std::vector<std::string>& lines, const Ref<URL>& url) {
  std::vector<Ref<HTTPCookie>> out;
  if (!url) return out;
  Date now = Date::now();
  for (const auto& line : lines) {
    for (const auto& one : splitJoinedSetCookie(line)) {
      if (auto cookie = parseSetCookie(one, *url, now)) out.push_back(std::move(cookie));
    }
  }
  return out;
}

std::vector<Ref<HTTPCookie>> HTTPCookie::cookiesWithResponseHeaderFields_forURL(
    const HTTPHeaderFields& headers, const Ref<URL>& url) {
  std::vector<std::string> lines;
  for (const auto& [name, value] : headers)
    if (headerNameEquals(name, "Set-Cookie")) lines.push_back(value);
  return cookiesWithSetCookieLines_forURL(lines, url);
}

HTTPHeaderFields HTTPCookie::requestHeaderFieldsWithCookies(const std::vector<Ref<HTTPCookie>>& cookies) {
  HTTPHeaderFields fields;
  std::string header;
  for (const auto& c : cookies) {
    if (!c) continue;
    if (!header.empty()) header += "; ";
    header += c->name() + "=" + c->value();
  }
  if (!header.empty()) fields.set("Cookie", header);
  return fields;
}

Dictionary HTTPCookie::properties() const {
  Dictionary d;
  d.set(HTTPCookieName, f_.name);
  d.set(HTTPCookieValue, f_.value);
  d.set(HTTPCookieDomain, f_.domain);
  d.set(HTTPCookiePath, f_.path);
  if (f_.expiresDate) d.set(HTTPCookieExpires, *f_.expiresDate);
  if (f_.secure) d.set(HTTPCookieSecure, "TRUE");
  if (f_.httpOnly) d.set(HTTPCookieHTTPOnly, "TRUE");
  if (!f_.expiresDate) d.set(HTTPCookieDiscard, "TRUE");
  if (f_.comment) d.set(HTTPCookieComment, *f_.comment);
  d.set(HTTPCookieVersion, std::to_string(f_.version));
  return d;
}

bool HTTPCookie::matchesHost(std::string_view hostText) const {
  std::string host = lower(hostText);
  std::string domain = lower(f_.domain);
  if (isHostOnly()) return host == domain;
  return domainMatches(host, domain.substr(1));
}

bool HTTPCookie::matchesPath(std::string_view requestPath) const {
  std::string_view req = requestPath.empty() ? std::string_view("/") : requestPath;
  const std::string& p = f_.path;
  if (req == p) return true;
  if (req.size() > p.size() && req.substr(0, p.size()) == p) {
    return p.back() == '/' || req[p.size()] == '/';
  }
  return false;
}

bool HTTPCookie::isAllowedForURL(const URL& url) const {
  auto host = url.host();
  if (!host || !matchesHost(*host)) return false;
  if (!matchesPath(url.percentEncodedPath())) return false;
  if (f_.secure && lower(url.scheme().value_or("")) != "https") return false;
  return true;
}

bool HTTPCookie::isSameIdentity(const HTTPCookie& other) const {
  return f_.name == other.f_.name && lower(f_.domain) == lower(other.f_.domain) && f_.path == other.f_.path;
}

bool HTTPCookie::isEqual(const Object* other) const {
  auto o = dynamic_cast<const HTTPCookie*>(other);
  return o && isSameIdentity(*o) && f_.value == o->f_.value;
}

std::size_t HTTPCookie::hash() const {
  return std::hash<std::string>()(f_.name + "\n" + lower(f_.domain) + "\n" + f_.path);
}

std::string HTTPCookie::description() const {
  return format(
      "<NSHTTPCookie version:%u name:\"%@\" value:\"%@\" expiresDate:%@ sessionOnly:%@ domain:\"%@\" "
      "path:\"%@\" isSecure:%@>",
      f_.version, f_.name, f_.value, f_.expiresDate ? f_.expiresDate->description() : std::string("(null)"),
      isSessionOnly() ? "TRUE" : "FALSE", f_.domain, f_.path, f_.secure ? "TRUE" : "FALSE");
}

// RFC 6265 section 5.1.1.
std::optional<Date> HTTPCookie::parseCookieDate(std::string_view text) {
  auto isDelimiter = [](unsigned char c) {
    return c == 0x09 || (c >= 0x20 && c <= 0x2f) || (c >= 0x3b && c <= 0x40) || (c >= 0x5b && c <= 0x60) ||
           (c >= 0x7b && c <= 0x7e);
  };
  bool foundTime = false, foundDay = false, foundMonth = false, foundYear = false;
  int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isDelimiter(static_cast<unsigned char>(text[i]))) ++i;
    std::size_t start = i;
    while (i < text.size() && !isDelimiter(static_cast<unsigned char>(text[i]))) ++i;
    std::string_view token = text.substr(start, i - start);
    if (token.empty()) continue;
    int h, m, s;
    char tail = 0;
    std::string t(token);
    if (!foundTime && std::sscanf(t.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &tail) >= 3 &&
        std::isdigit(static_cast<unsigned char>(t[0]))) {
      foundTime = true;
      hour = h, minute = m, second = s;
      continue;
    }
    auto leadingDigits = [&](std::size_t maxDigits, std::size_t minDigits, int* out) {
      std::size_t n = 0;
      while (n < t.size() && std::isdigit(static_cast<unsigned char>(t[n]))) ++n;
      if (n < minDigits || n > maxDigits) return false;
      *out = std::atoi(t.substr(0, n).c_str());
      return true;
    };
    int v;
    if (!foundDay && leadingDigits(2, 1, &v)) {
      foundDay = true;
      day = v;
      continue;
    }
    if (!foundMonth && monthIndex(token) >= 0) {
      foundMonth = true;
      month = monthIndex(token);
      continue;
    }
    if (!foundYear && leadingDigits(4, 2, &v)) {
      foundYear = true;
      year = v;
      continue;
    }
  }
  if (!(foundTime && foundDay && foundMonth && foundYear)) return std::nullopt;
  if (year >= 70 && year <= 99) year += 1900;
  if (year >= 0 && year <= 69) year += 2000;
  if (day < 1 || day > 31 || year < 1601 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  time_t t = timegm(&tm);
  return Date::dateWithTimeIntervalSince1970(static_cast<double>(t));
}

}  // namespace ns
