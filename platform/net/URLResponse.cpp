#include "platform/net/URLResponse.h"

#include <cctype>
#include <charconv>

#include "platform/core/Format.h"
#include "platform/core/Str.h"
#include "platform/net/HTTPText.h"

namespace ns {

namespace {

using httptext::lower;
using httptext::trim;

std::string unquote(std::string s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}

// A file name taken from a header must not name a folder or climb out of one.
std::optional<std::string> safeFileName(std::string name) {
  auto slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  return name;
}

// Whether a Content-Encoding value names a coding other than none at all.
bool hasContentCoding(const std::optional<std::string>& value) {
  if (!value) return false;
  std::string_view rest = *value;
  while (!rest.empty()) {
    auto comma = rest.find(',');
    std::string coding = lower(trim(rest.substr(0, comma)));
    if (!coding.empty() && coding != "identity") return true;
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  return false;
}

}  // namespace

void parseContentType(std::string_view value, std::optional<std::string>* mimeType,
                      std::optional<std::string>* charset) {
  std::size_t semi = value.find(';');
  std::string type = lower(trim(value.substr(0, semi)));
  if (mimeType) *mimeType = type.empty() ? std::nullopt : std::optional<std::string>(type);
  if (charset) charset->reset();
  while (semi != std::string_view::npos) {
    std::size_t next = value.find(';', semi + 1);
    std::string param = trim(
        value.substr(semi + 1, next == std::string_view::npos ? std::string_view::npos : next - semi - 1));
    auto eq = param.find('=');
    if (eq != std::string::npos && lower(trim(param.substr(0, eq))) == "charset" && charset) {
      *charset = lower(unquote(trim(param.substr(eq + 1))));
    }
    semi = next;
  }
}

URLResponse::URLResponse(Ref<ns::URL> url, std::optional<std::string> mimeType,
                         std::int64_t expectedContentLength, std::optional<std::string> textEncodingName)
    : url_(std::move(url)),
      mimeType_(std::move(mimeType)),
      expectedContentLength_(expectedContentLength),
      textEncodingName_(std::move(textEncodingName)) {}

std::string URLResponse::suggestedFilename() const {
  if (url_) {
    auto name = safeFileName(url_->lastPathComponent());
    if (name && *name != "/") return *name;
  }
  return "Unknown";
}

std::string URLResponse::description() const {
  return format("<NSURLResponse: %p> { URL: %@ }", static_cast<const void*>(this),
                url_ ? url_->absoluteString() : std::string("(null)"));
}

HTTPURLResponse::HTTPURLResponse(Ref<ns::URL> url, long statusCode, std::string httpVersion,
                                 HTTPHeaderFields headerFields)
    : URLResponse(std::move(url), std::nullopt, URLResponseUnknownLength, std::nullopt),
      statusCode_(statusCode),
      httpVersion_(std::move(httpVersion)),
      headers_(std::move(headerFields)) {
  if (auto type = headers_.get("Content-Type")) parseContentType(*type, &mimeType_, &textEncodingName_);
  // A transfer coding frames the body in its own way, and a content coding is undone before the
  // body is handed over: in both cases the field does not give the length of what is delivered.
  if (auto length = headers_.get("Content-Length"); length && !headers_.contains("Transfer-Encoding") &&
                                                    !hasContentCoding(headers_.get("Content-Encoding"))) {
    std::string text = trim(*length);
    std::int64_t n = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec == std::errc() && end == text.data() + text.size() && n >= 0) expectedContentLength_ = n;
  }
}

Ref<HTTPURLResponse> HTTPURLResponse::initWithURL_statusCode_HTTPVersion_headerFields(
    Ref<ns::URL> url, long statusCode, std::string httpVersion, HTTPHeaderFields headerFields) {
  if (!url) return nullptr;
  return make<HTTPURLResponse>(std::move(url), statusCode, std::move(httpVersion), std::move(headerFields));
}

std::string HTTPURLResponse::suggestedFilename() const {
  if (auto disposition = headers_.get("Content-Disposition")) {
    std::string_view d = *disposition;
    std::size_t pos = 0;
    while ((pos = d.find(';', pos)) != std::string_view::npos) {
      std::size_t next = d.find(';', pos + 1);
      std::string param =
          trim(d.substr(pos + 1, next == std::string_view::npos ? std::string_view::npos : next - pos - 1));
      auto eq = param.find('=');
      if (eq != std::string::npos && lower(trim(param.substr(0, eq))) == "filename") {
        if (auto name = safeFileName(unquote(trim(param.substr(eq + 1))))) return *name;
      }
      pos = next;
    }
  }
  return URLResponse::suggestedFilename();
}

std::string HTTPURLResponse::localizedStringForStatusCode(long code) {
  switch (code) {
    case 100:
      return "continue";
    case 101:
      return "switching protocols";
    case 200:
      return "no error";
    case 201:
      return "created";
    case 202:
      return "accepted";
    case 203:
      return "non-authoritative information";
    case 204:
      return "no content";
    case 205:
      return "reset content";
    case 206:
      return "partial content";
    case 300:
      return "multiple choices";
    case 301:
      return "moved permanently";
    case 302:
      return "found";
    case 303:
      return "see other";
    case 304:
      return "not modified";
    case 305:
      return "needs proxy";
    case 307:
      return "temporarily redirected";
    case 400:
      return "bad request";
    case 401:
      return "unauthorized";
    case 402:
      return "payment required";
    case 403:
      return "forbidden";
    case 404:
      return "not found";
    case 405:
      return "method not allowed";
    case 406:
      return "unacceptable";
    case 407:
      return "proxy authentication required";
    case 408:
      return "request timed out";
    case 409:
      return "conflict";
    case 410:
      return "no longer exists";
    case 411:
      return "length required";
    case 412:
      return "precondition failed";
    case 413:
      return "request too large";
    case 414:
      return "requested URL too long";
    case 415:
      return "unsupported media type";
    case 416:
      return "requested range not satisfiable";
    case 417:
      return "expectation failed";
    case 500:
      return "internal server error";
    case 501:
      return "unimplemented";
    case 502:
      return "bad gateway";
    case 503:
      return "service unavailable";
    case 504:
      return "gateway timed out";
    case 505:
      return "unsupported version";
    default:
      break;
  }
  if (code >= 100 && code < 200) return "informational";
  if (code >= 200 && code < 300) return "success";
  if (code >= 300 && code < 400) return "redirected";
  if (code >= 400 && code < 500) return "client error";
  return "server error";
}

std::string HTTPURLResponse::description() const {
  return format("<NSHTTPURLResponse: %p> { URL: %@ } { Status Code: %ld }", static_cast<const void*>(this),
                url_ ? url_->absoluteString() : std::string("(null)"), statusCode_);
}

}  // namespace ns
