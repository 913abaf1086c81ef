#include "platform/net/URL.h"

#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <functional>

#include "platform/net/PercentEncoding.h"

namespace ns {

namespace {

bool isSchemeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

bool isHex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Characters that never stand unescaped in URL text.
bool isIllegal(unsigned char c) {
  if (c <= 0x20 || c >= 0x7f) return true;
  switch (c) {
    case '"':
    case '<':
    case '>':
    case '\\':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
      return true;
    default:
      return false;
  }
}

bool validEscapes(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%') {
      if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2])) return false;
    }
  }
  return true;
}

std::string decodedOrRaw(std::string_view s) {
  auto d = percentDecodeBytes(s);
  return d ? *d : std::string(s);
}

bool parseAuthority(std::string_view auth, URL::Parts& p) {
  p.hasAuthority = true;
  std::string_view hostport = auth;
  auto at = auth.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view userinfo = auth.substr(0, at);
    if (userinfo.find_first_of("[]") != std::string_view::npos) return false;
    auto colon = userinfo.find(':');
    p.user = std::string(userinfo.substr(0, colon));
    if (colon != std::string_view::npos) p.password = std::string(userinfo.substr(colon + 1));
    hostport = auth.substr(at + 1);
  }
  std::string_view portText;
  bool hasPort = false;
  if (!hostport.empty() && hostport.front() == '[') {
    auto close = hostport.find(']');
    if (close == std::string_view::npos) return false;
    p.host = std::string(hostport.substr(0, close + 1));
    std::string_view after = hostport.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return false;
      portText = after.substr(1);
      hasPort = true;
    }
  } else {
    if (hostport.find_first_of("[]") != std::string_view::npos) return false;
    auto colon = hostport.rfind(':');
    if (colon != std::string_view::npos) {
      portText = hostport.substr(colon + 1);
      hasPort = true;
      hostport = hostport.substr(0, colon);
    }
    // Only a bracketed IPv6 literal may hold a colon: "a:b:" would read back as another URL.
    if (hostport.find(':') != std::string_view::npos) return false;
    p.host = std::string(hostport);
  }
  if (hasPort && !portText.empty()) {
    if (portText.size() > 5) return false;
    int port = 0;
    for (char c : portText) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
      port = port * 10 + (c - '0');
    }
    if (port > 65535) return false;
    p.port = port;
  }
  return true;
}

// RFC 3986 section 5.2.3.
std::string mergePaths(const URL::Parts& base, const std::string& ref) {
  if (base.hasAuthority && base.path.empty()) return "/" + ref;
  auto slash = base.path.rfind('/');
  if (slash == std::string::npos) return ref;
  return base.path.substr(0, slash + 1) + ref;
}

URL::Parts resolve(const URL::Parts& r, const URL::Parts& base) {
  URL::Parts t;
  if (r.scheme) {
    t = r;
    t.path = URL::removeDotSegments(r.path);
    return t;
  }
  if (r.hasAuthority) {
    t = r;
    t.path = URL::removeDotSegments(r.path);
  } else {
    if (r.path.empty()) {
      t.path = base.path;
      t.query = r.query ? r.query : base.query;
    } else {
      t.path = URL::removeDotSegments(r.path.front() == '/' ? r.path : mergePaths(base, r.path));
      t.query = r.query;
    }
    t.hasAuthority = base.hasAuthority;
    t.user = base.user;
    t.password = base.password;
    t.host = base.host;
    t.port = base.port;
  }
  t.scheme = base.scheme;
  t.fragment = r.fragment;
  return t;
}

bool isDirectoryOnDisk(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

Ref<URL> makeAbsolute(URL::Parts parts) {
  std::string text = parts.compose();
  return make<URL>(std::move(text), nullptr, std::move(parts));
}

}  // namespace

std::string URL::Parts::compose() const {
  std::string out;
  if (scheme) out += *scheme + ":";
  if (hasAuthority) {
    out += "//";
    if (user) {
      out += *user;
      if (password) out += ":" + *password;
      out += "@";
    }
    if (host) out += *host;
    if (port) out += ":" + std::to_string(*port);
  } else if (path.size() > 1 && path[0] == '/' && path[1] == '/') {
    // Without an authority a path beginning "//" would read back as one: "/." keeps it a path.
    out += "/.";
  }
  out += path;
  if (query) out += "?" + *query;
  if (fragment) out += "#" + *fragment;
  return out;
}

std::optional<URL::Parts> URL::parse(std::string_view text) {
  for (unsigned char c : text)
    if (isIllegal(c)) return std::nullopt;
  if (!validEscapes(text)) return std::nullopt;

  Parts p;
  std::string_view rest = text;
  auto hash = rest.find('#');
  if (hash != std::string_view::npos) {
    std::string_view frag = rest.substr(hash + 1);
    if (frag.find('#') != std::string_view::npos) return std::nullopt;
    p.fragment = std::string(frag);
    rest = rest.substr(0, hash);
  }
  // A scheme is letters, digits, "+-." before the first ":", starting with a letter.
  auto colon = rest.find(':');
  if (colon != std::string_view::npos && colon > 0 && std::isalpha(static_cast<unsigned char>(rest[0]))) {
    bool ok = true;
    for (std::size_t i = 0; i < colon; ++i) ok = ok && isSchemeChar(rest[i]);
    if (ok) {
      p.scheme = std::string(rest.substr(0, colon));
      rest = rest.substr(colon + 1);
    }
  }
  auto question = rest.find('?');
  if (question != std::string_view::npos) {
    p.query = std::string(rest.substr(question + 1));
    rest = rest.substr(0, question);
  }
  if (rest.substr(0, 2) == "//") {
    rest = rest.substr(2);
    auto slash = rest.find('/');
    if (!parseAuthority(rest.substr(0, slash), p)) return std::nullopt;
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  }
  if (rest.find_first_of("[]") != std::string_view::npos) return std::nullopt;
  p.path = std::string(rest);
  return p;
}

std::string URL::removeDotSegments(std::string_view in) {
  // Each step consumes a prefix of the input by moving the view and the output only grows at its
  // end or loses its last segment, so the work stays linear in the path's length.
  std::string out;
  out.reserve(in.size());
  auto startsWith = [&](std::string_view prefix) { return in.substr(0, prefix.size()) == prefix; };
  auto dropLastSegment = [&] {
    auto slash = out.rfind('/');
    out.erase(slash == std::string::npos ? 0 : slash);
  };
  while (!in.empty()) {
    if (startsWith("../")) {
      in.remove_prefix(3);
    } else if (startsWith("./")) {
      in.remove_prefix(2);
    } else if (startsWith("/./")) {
      in.remove_prefix(2);  // leaves the second "/"
    } else if (in == "/.") {
      in = "/";
    } else if (startsWith("/../")) {
      in.remove_prefix(3);
      dropLastSegment();
    } else if (in == "/..") {
      in = "/";
      dropLastSegment();
    } else if (in == "." || in == "..") {
      in = {};
    } else {
      auto next = in.find('/', in[0] == '/' ? 1 : 0);
      if (next == std::string_view::npos) next = in.size();
      out.append(in.substr(0, next));
      in.remove_prefix(next);
    }
  }
  return out;
}

URL::URL(std::string relative, Ref<URL> base, Parts resolved)
    : relative_(std::move(relative)), base_(std::move(base)), parts_(std::move(resolved)) {
  absolute_ = parts_.compose();
}

Ref<URL> URL::URLWithString(std::string_view text) {
  if (text.empty()) return nullptr;
  auto parts = parse(text);
  if (!parts) return nullptr;
  return make<URL>(std::string(text), nullptr, std::move(*parts));
}

Ref<URL> URL::URLWithString_relativeToURL(std::string_view text, const Ref<URL>& base) {
  if (!base) return URLWithString(text);
  auto parts = parse(text);
  if (!parts) return nullptr;
  return make<URL>(std::string(text), base, resolve(*parts, base->parts_));
}

Ref<URL> URL::fileURLWithPath_isDirectory(std::string_view path, bool isDirectory) {
  std::string full(path);
  if (full.empty() || full.front() != '/') {
    std::error_code ec;
    std::string cwd = std::filesystem::current_path(ec).string();
    full = (cwd.empty() ? std::string("/") : cwd + "/") + full;
  }
  if (isDirectory && full.back() != '/') full += '/';
  Parts p;
  p.scheme = "file";
  p.hasAuthority = true;
  p.host = "";
  p.path =
      stringByAddingPercentEncodingWithAllowedCharacters(full, URLCharacterSet::URLPathAllowedCharacterSet());
  return makeAbsolute(std::move(p));
}

Ref<URL> URL::fileURLWithPath(std::string_view path) {
  std::string p(path);
  return fileURLWithPath_isDirectory(path, (!p.empty() && p.back() == '/') || isDirectoryOnDisk(p));
}

Ref<URL> URL::absoluteURL() const {
  if (!base_) return std::const_pointer_cast<URL>(self<URL>());
  return makeAbsolute(parts_);
}

std::optional<std::string> URL::host() const {
  if (!parts_.host) return std::nullopt;
  std::string h = *parts_.host;
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') return h.substr(1, h.size() - 2);
  return decodedOrRaw(h);
}

std::optional<std::string> URL::user() const {
  if (!parts_.user) return std::nullopt;
  return decodedOrRaw(*parts_.user);
}

std::optional<std::string> URL::password() const {
  if (!parts_.password) return std::nullopt;
  return decodedOrRaw(*parts_.password);
}

std::string URL::path() const {
  std::string p = decodedOrRaw(parts_.path);
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::string URL::relativePath() const {
  if (!base_) return path();
  auto rel = parse(relative_);
  if (!rel) return std::string();
  std::string p = decodedOrRaw(rel->path);
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::string URL::resourceSpecifier() const {
  Parts p = parts_;
  p.scheme.reset();
  return p.compose();
}

std::vector<std::string> URL::pathComponents() const {
  std::vector<std::string> out;
  std::string p = path();
  if (p.empty()) return out;
  if (p.front() == '/') out.emplace_back("/");
  std::size_t start = 0;
  while (start <= p.size()) {
    auto slash = p.find('/', start);
    std::string part = p.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!part.empty()) out.push_back(part);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return out;
}

std::string URL::lastPathComponent() const {
  auto parts = pathComponents();
  return parts.empty() ? std::string() : parts.back();
}

std::string URL::pathExtension() const {
  std::string last = lastPathComponent();
  auto dot = last.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == last.size()) return std::string();
  return last.substr(dot + 1);
}

bool URL::isFileURL() const {
  return parts_.scheme && (*parts_.scheme == "file" || *parts_.scheme == "FILE");
}

Ref<URL> URL::URLByAppendingPathComponent_isDirectory(std::string_view component, bool isDirectory) const {
  Parts p = parts_;
  std::string escaped = stringByAddingPercentEncodingWithAllowedCharacters(
      component, URLCharacterSet::URLPathAllowedCharacterSet());
  if (p.path.empty() || p.path.back() != '/') p.path += '/';
  while (!escaped.empty() && escaped.front() == '/') escaped.erase(0, 1);
  p.path += escaped;
  if (isDirectory && p.path.back() != '/') p.path += '/';
  return makeAbsolute(std::move(p));
}

Ref<URL> URL::URLByAppendingPathComponent(std::string_view component) const {
  bool dir = false;
  if (isFileURL()) {
    std::string full = path();
    if (full.empty() || full.back() != '/') full += '/';
    dir = isDirectoryOnDisk(full + std::string(component));
  }
  return URLByAppendingPathComponent_isDirectory(component, dir);
}

Ref<URL> URL::URLByDeletingLastPathComponent() const {
  Parts p = parts_;
  std::string path = p.path;
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  auto slash = path.rfind('/');
  p.path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return makeAbsolute(std::move(p));
}

Ref<URL> URL::URLByAppendingPathExtension(std::string_view extension) const {
  Parts p = parts_;
  bool dir = hasDirectoryPath() && p.path.size() > 1;
  if (dir) p.path.pop_back();
  p.path += "." + stringByAddingPercentEncodingWithAllowedCharacters(
                      extension, URLCharacterSet::URLPathAllowedCharacterSet());
  if (dir) p.path += '/';
  return makeAbsolute(std::move(p));
}

Ref<URL> URL::URLByDeletingPathExtension() const {
  Parts p = parts_;
  bool dir = hasDirectoryPath() && p.path.size() > 1;
  if (dir) p.path.pop_back();
  auto slash = p.path.rfind('/');
  auto dot = p.path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) p.path.erase(dot);
  if (dir) p.path += '/';
  return makeAbsolute(std::move(p));
}

Ref<URL> URL::standardizedURL() const {
  Parts p = parts_;
  if (!p.path.empty() && p.path.front() == '/') p.path = removeDotSegments(p.path);
  return makeAbsolute(std::move(p));
}

bool URL::isEqual(const Object* other) const {
  auto o = dynamic_cast<const URL*>(other);
  if (!o) return false;
  if (relative_ != o->relative_) return false;
  if (!base_ || !o->base_) return !base_ && !o->base_;
  return base_->isEqual(o->base_.get());
}

std::size_t URL::hash() const {
  return std::hash<std::string>()(absolute_);
}

std::string URL::description() const {
  if (!base_) return relative_;
  return relative_ + " -- " + base_->description();
}

}  // namespace ns
