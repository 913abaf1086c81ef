#include "platform/net/HTTPCookieStorage.h"
#include "platform/core/NoDestructor.h"

#include <algorithm>

namespace ns {

Ref<HTTPCookieStorage> HTTPCookieStorage::sharedHTTPCookieStorage() {
  // Never destroyed: the loading engine's thread may still use it while the process exits.
  static ns::NoDestructor<Ref<HTTPCookieStorage>> shared(make<HTTPCookieStorage>());
  return *shared;
}

void HTTPCookieStorage::removeExpiredLocked(const Date& now) const {
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [&](const Entry& e) { return e.cookie->isExpiredAt(now); }),
                 entries_.end());
}

void HTTPCookieStorage::setCookie(const Ref<HTTPCookie>& cookie) {
  if (!cookie) return;
  std::lock_guard lock(mutex_);
  Date now = Date::now();
  Date created = now;
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.cookie->isSameIdentity(*cookie); });
  if (it != entries_.end()) {
    created = it->created;  // a replaced cookie keeps its place in the sending order
    entries_.erase(it);
  }
  if (cookie->isExpiredAt(now)) return;
  entries_.push_back(Entry{cookie, created, ++counter_});
}

void HTTPCookieStorage::deleteCookie(const Ref<HTTPCookie>& cookie) {
  if (!cookie) return;
  std::lock_guard lock(mutex_);
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [&](const Entry& e) { return e.cookie->isSameIdentity(*cookie); }),
                 entries_.end());
}

void HTTPCookieStorage::setCookies_forURL_mainDocumentURL(const std::vector<Ref<HTTPCookie>>& cookies,
                                                          const Ref<URL>& url,
                                                          const Ref<URL>& mainDocumentURL) {
  HTTPCookieAcceptPolicy policy = cookieAcceptPolicy();
  if (policy == HTTPCookieAcceptPolicyNever) return;
  const Ref<URL>& main = mainDocumentURL ? mainDocumentURL : url;
  auto mainHost = main ? main->host() : std::nullopt;
  for (const auto& cookie : cookies) {
    if (!cookie) continue;
    if (policy == HTTPCookieAcceptPolicyOnlyFromMainDocumentDomain) {
      if (!mainHost) continue;
      if (!cookie->matchesHost(*mainHost)) continue;
    }
    setCookie(cookie);
  }
}

std::vector<Ref<HTTPCookie>> HTTPCookieStorage::cookies() const {
  std::lock_guard lock(mutex_);
  removeExpiredLocked(Date::now());
  std::vector<Ref<HTTPCookie>> out;
  for (const auto& e : entries_) out.push_back(e.cookie);
  return out;
}

std::vector<Ref<HTTPCookie>> HTTPCookieStorage::cookiesForURL(const Ref<URL>& url) const {
  std::vector<Ref<HTTPCookie>> out;
  if (!url) return out;
  std::vector<Entry> matching;
  {
    std::lock_guard lock(mutex_);
    removeExpiredLocked(Date::now());
    for (const auto& e : entries_)
      if (e.cookie->isAllowedForURL(*url)) matching.push_back(e);
  }
  std::stable_sort(matching.begin(), matching.end(), [](const Entry& a, const Entry& b) {
    if (a.cookie->path().size() != b.cookie->path().size())
      return a.cookie->path().size() > b.cookie->path().size();
    if (a.created.timeIntervalSince1970() != b.created.timeIntervalSince1970())
      return a.created.timeIntervalSince1970() < b.created.timeIntervalSince1970();
    return a.order < b.order;
  });
  for (const auto& e : matching) out.push_back(e.cookie);
  return out;
}

void HTTPCookieStorage::removeCookiesSinceDate(const Date& date) {
  std::lock_guard lock(mutex_);
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [&](const Entry& e) {
                                  return e.created.timeIntervalSince1970() >= date.timeIntervalSince1970();
                                }),
                 entries_.end());
}

void HTTPCookieStorage::removeAllCookies() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

HTTPCookieAcceptPolicy HTTPCookieStorage::cookieAcceptPolicy() const {
  std::lock_guard lock(mutex_);
  return policy_;
}

void HTTPCookieStorage::setCookieAcceptPolicy(HTTPCookieAcceptPolicy policy) {
  std::lock_guard lock(mutex_);
  policy_ = policy;
}

}  // namespace ns
