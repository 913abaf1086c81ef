#include "platform/net/URLComponents.h"

#include "platform/net/PercentEncoding.h"

namespace ns {

namespace {

std::optional<std::string> decoded(const std::optional<std::string>& s) {
  if (!s) return std::nullopt;
  auto d = percentDecodeBytes(*s);
  return d ? *d : *s;
}

std::optional<std::string> encoded(const std::optional<std::string>& s, const URLCharacterSet& set) {
  if (!s) return std::nullopt;
  return stringByAddingPercentEncodingWithAllowedCharacters(*s, set);
}

}  // namespace

std::optional<URLComponents> URLComponents::componentsWithString(std::string_view text) {
  auto parts = ns::URL::parse(text);
  if (!parts) return std::nullopt;
  URLComponents c;
  c.parts_ = std::move(*parts);
  return c;
}

std::optional<URLComponents> URLComponents::componentsWithURL_resolvingAgainstBaseURL(const Ref<ns::URL>& url,
                                                                                      bool resolve) {
  if (!url) return std::nullopt;
  if (resolve || !url->baseURL()) {
    URLComponents c;
    c.parts_ = url->parts();
    return c;
  }
  return componentsWithString(url->relativeString());
}

Ref<ns::URL> URLComponents::URL() const {
  return URLRelativeToURL(nullptr);
}

Ref<ns::URL> URLComponents::URLRelativeToURL(const Ref<ns::URL>& base) const {
  auto text = string();
  if (!text) return nullptr;
  if (text->empty() && !base) return nullptr;
  return ns::URL::URLWithString_relativeToURL(*text, base);
}

std::optional<std::string> URLComponents::string() const {
  bool authority = parts_.host || parts_.user || parts_.password || parts_.port;
  if (authority && !parts_.path.empty() && parts_.path.front() != '/') return std::nullopt;
  if (!authority && parts_.path.rfind("//", 0) == 0) return std::nullopt;
  ns::URL::Parts p = parts_;
  p.hasAuthority = authority;
  return p.compose();
}

std::optional<std::string> URLComponents::user() const {
  return decoded(parts_.user);
}
void URLComponents::setUser(std::optional<std::string> user) {
  parts_.user = encoded(user, URLCharacterSet::URLUserAllowedCharacterSet());
}
std::optional<std::string> URLComponents::password() const {
  return decoded(parts_.password);
}
void URLComponents::setPassword(std::optional<std::string> password) {
  parts_.password = encoded(password, URLCharacterSet::URLPasswordAllowedCharacterSet());
}

std::optional<std::string> URLComponents::host() const {
  if (!parts_.host) return std::nullopt;
  const std::string& h = *parts_.host;
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') return h.substr(1, h.size() - 2);
  return decoded(parts_.host);
}

void URLComponents::setHost(std::optional<std::string> host) {
  if (host && host->find(':') != std::string::npos && host->front() != '[') {
    parts_.host = "[" + *host + "]";
    return;
  }
  parts_.host = encoded(host, URLCharacterSet::URLHostAllowedCharacterSet().remove(":[]"));
}

void URLComponents::setPort(std::optional<int> port) {
  if (port && (*port < 0 || *port > 65535)) port.reset();
  parts_.port = port;
}

std::string URLComponents::path() const {
  return *decoded(parts_.path);
}
void URLComponents::setPath(std::string_view path) {
  parts_.path =
      stringByAddingPercentEncodingWithAllowedCharacters(path, URLCharacterSet::URLPathAllowedCharacterSet());
}

std::optional<std::string> URLComponents::query() const {
  return decoded(parts_.query);
}
void URLComponents::setQuery(std::optional<std::string> query) {
  parts_.query = encoded(query, URLCharacterSet::URLQueryAllowedCharacterSet());
}

std::optional<std::string> URLComponents::fragment() const {
  return decoded(parts_.fragment);
}
void URLComponents::setFragment(std::optional<std::string> fragment) {
  parts_.fragment = encoded(fragment, URLCharacterSet::URLFragmentAllowedCharacterSet());
}

std::optional<std::vector<URLQueryItem>> URLComponents::queryItems() const {
  if (!parts_.query) return std::nullopt;
  std::vector<URLQueryItem> items;
  const std::string& q = *parts_.query;
  if (q.empty()) return items;
  std::size_t start = 0;
  while (start <= q.size()) {
    auto amp = q.find('&', start);
    std::string pair = q.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    auto eq = pair.find('=');
    URLQueryItem item;
    item.name = *decoded(pair.substr(0, eq));
    if (eq != std::string::npos) item.value = decoded(pair.substr(eq + 1));
    items.push_back(std::move(item));
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return items;
}

void URLComponents::setQueryItems(const std::optional<std::vector<URLQueryItem>>& items) {
  if (!items) {
    parts_.query.reset();
    return;
  }
  static const URLCharacterSet allowed = URLCharacterSet::URLQueryAllowedCharacterSet().remove("&=+#");
  std::string q;
  for (const auto& item : *items) {
    if (!q.empty() || &item != &items->front()) q += '&';
    q += stringByAddingPercentEncodingWithAllowedCharacters(item.name, allowed);
    if (item.value) q += "=" + stringByAddingPercentEncodingWithAllowedCharacters(*item.value, allowed);
  }
  parts_.query = q;
}

}  // namespace ns
