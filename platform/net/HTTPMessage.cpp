#include "platform/net/HTTPMessage.h"

#include <cctype>
#include <cstring>

namespace cf {

namespace {

bool isTokenChar(unsigned char c) {
  if (c <= 0x20 || c >= 0x7f) return false;
  switch (c) {
    case '(':
    case ')':
    case '<':
    case '>':
    case '@':
    case ',':
    case ';':
    case ':':
    case '\\':
    case '"':
    case '/':
    case '[':
    case ']':
    case '?':
    case '=':
    case '{':
    case '}':
      return false;
    default:
      return true;
  }
}

bool isToken(std::string_view s) {
  if (s.empty()) return false;
  for (unsigned char c : s)
    if (!isTokenChar(c)) return false;
  return true;
}

bool isVersion(std::string_view v) {
  return v.size() == 8 && v.substr(0, 5) == "HTTP/" && std::isdigit(static_cast<unsigned char>(v[5])) &&
         v[6] == '.' && std::isdigit(static_cast<unsigned char>(v[7]));
}

std::string trimOWS(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

}  // namespace

ns::Ref<HTTPMessage> HTTPMessage::createEmpty(bool isRequest) {
  return ns::make<HTTPMessage>(isRequest);
}

ns::Ref<HTTPMessage> HTTPMessage::createRequest(std::string_view method, const ns::Ref<ns::URL>& url,
                                                std::string_view version) {
  if (method.empty() || !url) return nullptr;
  auto m = ns::make<HTTPMessage>(true);
  m->method_ = std::string(method);
  m->url_ = url;
  if (url->host()) {
    ns::URL::Parts p = url->parts();
    m->target_ = p.path.empty() ? "/" : p.path;
    if (p.query) m->target_ += "?" + *p.query;
  } else {
    m->target_ = url->relativeString();
  }
  m->version_ = std::string(version);
  m->haveStartLine_ = true;
  m->headerComplete_ = true;
  return m;
}

ns::Ref<HTTPMessage> HTTPMessage::createResponse(long statusCode, std::optional<std::string> description,
                                                 std::string_view version) {
  auto m = ns::make<HTTPMessage>(false);
  m->statusCode_ = statusCode;
  m->statusDescription_ = description ? *description : reasonPhraseForStatusCode(statusCode);
  m->version_ = std::string(version);
  m->haveStartLine_ = true;
  m->headerComplete_ = true;
  return m;
}

bool HTTPMessage::parseStartLine(std::string_view line) {
  if (isRequest_) {
    auto sp1 = line.find(' ');
    if (sp1 == std::string_view::npos) return false;
    auto sp2 = line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) return false;
    std::string_view method = line.substr(0, sp1);
    std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string_view version = line.substr(sp2 + 1);
    if (!isToken(method) || target.empty() || !isVersion(version)) return false;
    auto url = ns::URL::URLWithString(target);
    if (!url) return false;
    method_ = std::string(method);
    target_ = std::string(target);
    url_ = std::move(url);
    version_ = std::string(version);
    return true;
  }
  auto sp1 = line.find(' ');
  std::string_view version = line.substr(0, sp1);
  if (!isVersion(version) || sp1 == std::string_view::npos) return false;
  std::string_view rest = line.substr(sp1 + 1);
  std::string_view code = rest.substr(0, rest.find(' '));
  if (code.size() != 3) return false;
  for (char c : code)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  version_ = std::string(version);
  statusCode_ = std::stol(std::string(code));
  statusDescription_ = code.size() < rest.size() ? std::string(rest.substr(4)) : std::string();
  return true;
}

bool HTTPMessage::parseFieldLine(std::string_view line) {
  if (line.front() == ' ' || line.front() == '\t') {
    // An obsolete folded continuation of the previous field.
    if (lastFieldName_.empty()) return false;
    std::string value = headers_.get(lastFieldName_).value_or("");
    headers_.set(lastFieldName_, value + " " + trimOWS(line));
    return true;
  }
  auto colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view name = line.substr(0, colon);
  if (!isToken(name)) return false;
  std::string value = trimOWS(line.substr(colon + 1));
  for (unsigned char c : value)
    if ((c < 0x20 && c != '\t') || c == 0x7f) return false;
  headers_.add(name, value);
  lastFieldName_ = std::string(name);
  return true;
}

bool HTTPMessage::appendBytes(const void* bytes, std::size_t length) {
  if (broken_) return false;
  if (headerComplete_) {
    body_.appendBytes_length(bytes, length);
    return true;
  }
  const char* p = static_cast<const char*>(bytes);
  std::size_t i = 0;
  while (i < length && !headerComplete_) {
    const char* nl = static_cast<const char*>(std::memchr(p + i, '\n', length - i));
    std::size_t take = nl ? static_cast<std::size_t>(nl - (p + i)) + 1 : length - i;
    pending_.append(p + i, take);
    headerBytes_ += take;
    i += take;
    if (headerBytes_ > kMaxHeaderBytes) {
      broken_ = true;
      return false;
    }
    if (!nl) break;
    std::string_view line(pending_);
    line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    bool ok = true;
    if (!haveStartLine_) {
      // Blank lines before the start line are tolerated, as RFC 9112 asks of servers.
      if (!line.empty()) {
        ok = parseStartLine(line);
        haveStartLine_ = ok;
      }
    } else if (line.empty()) {
      headerComplete_ = true;
    } else {
      ok = parseFieldLine(line);
    }
    pending_.clear();
    if (!ok) {
      broken_ = true;
      return false;
    }
  }
  if (headerComplete_ && i < length) body_.appendBytes_length(p + i, length - i);
  return true;
}

std::string HTTPMessage::responseStatusLine() const {
  return version_ + " " + std::to_string(statusCode_) + " " + statusDescription_;
}

void HTTPMessage::setHeaderFieldValue(std::string_view name, std::optional<std::string> value) {
  if (value)
    headers_.set(name, *value);
  else
    headers_.remove(name);
}

ns::Data HTTPMessage::serializedMessage() const {
  std::string head;
  if (isRequest_)
    head = method_.value_or("GET") + " " + target_ + " " + version_ + "\r\n";
  else
    head = responseStatusLine() + "\r\n";
  for (const auto& [name, value] : headers_) head += name + ": " + value + "\r\n";
  head += "\r\n";
  ns::MutableData out(head);
  out.appendData(body_);
  return out.take();
}

std::string HTTPMessage::reasonPhraseForStatusCode(long code) {
  switch (code) {
    case 100:
      return "Continue";
    case 101:
      return "Switching Protocols";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 203:
      return "Non-Authoritative Information";
    case 204:
      return "No Content";
    case 205:
      return "Reset Content";
    case 206:
      return "Partial Content";
    case 207:
      return "Multi-Status";
    case 300:
      return "Multiple Choices";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 305:
      return "Use Proxy";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 402:
      return "Payment Required";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 406:
      return "Not Acceptable";
    case 407:
      return "Proxy Authentication Required";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 410:
      return "Gone";
    case 411:
      return "Length Required";
    case 412:
      return "Precondition Failed";
    case 413:
      return "Request Entity Too Large";
    case 414:
      return "Request-URI Too Long";
    case 415:
      return "Unsupported Media Type";
    case 416:
      return "Requested Range Not Satisfiable";
    case 417:
      return "Expectation Failed";
    case 423:
      return "Locked";
    case 424:
      return "Failed Dependency";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    case 505:
      return "HTTP Version Not Supported";
    case 507:
      return "Insufficient Storage";
    default:
      return "Unknown";
  }
}

}  // namespace cf
