#include "lib/google/NetCookieStorage.h"

#include <algorithm>

#include "platform/core/Date.h"

namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool hasFutureExpiry(const ns::HTTPCookie& cookie, const ns::Date& now) {
  return !cookie.expiresDate() || cookie.expiresDate()->timeIntervalSince1970() > now.timeIntervalSince1970();
}

}  // namespace

void NetCookieStorage::removeExpiredCookiesLocked() {
  auto now = ns::Date::now();
  for (auto i = cookies_.size(); i-- > 0;)
    if (cookies_[i]->isExpiredAt(now)) cookies_.erase(cookies_.begin() + static_cast<long>(i));
}

void NetCookieStorage::setCookies(const std::vector<ns::Ref<ns::HTTPCookie>>& cookies) {
  std::lock_guard lock(mutex_);
  removeExpiredCookiesLocked();
  auto now = ns::Date::now();
  for (const auto& cookie : cookies) {
    if (!cookie || cookie->name().empty() || cookie->domain().empty() || cookie->path().empty()) continue;
    std::erase_if(cookies_, [&](const auto& stored) { return stored->isSameIdentity(*cookie); });
    // A server deletes a cookie by sending it again already expired.
    if (hasFutureExpiry(*cookie, now)) cookies_.push_back(cookie);
  }
}

std::vector<ns::Ref<ns::HTTPCookie>> NetCookieStorage::cookiesForURL(const ns::Ref<ns::URL>& url) {
  std::vector<ns::Ref<ns::HTTPCookie>> found;
  if (!url) return found;
  std::lock_guard lock(mutex_);
  removeExpiredCookiesLocked();
  std::string host = lowered(url->host().value_or(""));
  std::string path = url->path();
  if (path.empty()) path = "/";
  bool secureScheme = lowered(url->scheme().value_or("")) == "https";
  for (const auto& cookie : cookies_) {
    std::string domain = lowered(cookie->domain());
    bool hostMatches = host == "localhost" ? (domain == "localhost" || domain == "localhost.local")
                                           : cookie->matchesHost(host);
    if (!hostMatches || !cookie->matchesPath(path)) continue;
    if (cookie->isSecure() && !secureScheme) continue;
    found.push_back(cookie);
  }
  return found;
}

void NetCookieStorage::deleteCookie(const ns::Ref<ns::HTTPCookie>& cookie) {
  if (!cookie) return;
  std::lock_guard lock(mutex_);
  std::erase_if(cookies_, [&](const auto& stored) { return stored->isSameIdentity(*cookie); });
}

ns::Ref<ns::HTTPCookie> NetCookieStorage::cookieMatchingCookie(const ns::Ref<ns::HTTPCookie>& cookie) const {
  if (!cookie) return nullptr;
  std::lock_guard lock(mutex_);
  for (const auto& stored : cookies_)
    if (stored->isSameIdentity(*cookie)) return stored;
  return nullptr;
}

void NetCookieStorage::removeExpiredCookies() {
  std::lock_guard lock(mutex_);
  removeExpiredCookiesLocked();
}

void NetCookieStorage::removeAllCookies() {
  std::lock_guard lock(mutex_);
  cookies_.clear();
}

std::vector<ns::Ref<ns::HTTPCookie>> NetCookieStorage::cookies() const {
  std::lock_guard lock(mutex_);
  return cookies_;
}
