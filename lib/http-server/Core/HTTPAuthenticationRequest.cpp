#include "lib/http-server/Core/HTTPAuthenticationRequest.h"

#include <strings.h>

namespace {

bool hasPrefixIgnoringCase(const std::string& text, const char* prefix) {
  std::size_t n = std::char_traits<char>::length(prefix);
  return text.size() >= n && strncasecmp(text.data(), prefix, n) == 0;
}

std::string trimmed(const std::string& text) {
  const char* space = " \t\r\n";
  auto begin = text.find_first_not_of(space);
  if (begin == std::string::npos) return {};
  auto end = text.find_last_not_of(space);
  return text.substr(begin, end - begin + 1);
}

}  // namespace

HTTPAuthenticationRequest::HTTPAuthenticationRequest(const HTTPMessage& request) {
  std::string header = request.headerField("Authorization").value_or("");
  isBasic_ = hasPrefixIgnoringCase(header, "Basic ");
  isDigest_ = hasPrefixIgnoringCase(header, "Digest ");
  if (isBasic_) base64Credentials_ = trimmed(header.substr(6));
  if (isDigest_) {
    username_ = quotedSubHeaderFieldValue_fromHeaderFieldValue("username", header);
    realm_ = quotedSubHeaderFieldValue_fromHeaderFieldValue("realm", header);
    nonce_ = quotedSubHeaderFieldValue_fromHeaderFieldValue("nonce", header);
    uri_ = quotedSubHeaderFieldValue_fromHeaderFieldValue("uri", header);
    qop_ = nonquotedSubHeaderFieldValue_fromHeaderFieldValue("qop", header);
    if (qop_ && !qop_->empty() && (*qop_)[0] == '"')
      qop_ = quotedSubHeaderFieldValue_fromHeaderFieldValue("qop", header);
    nc_ = nonquotedSubHeaderFieldValue_fromHeaderFieldValue("nc", header);
    cnonce_ = quotedSubHeaderFieldValue_fromHeaderFieldValue("cnonce", header);
    response_ = quotedSubHeaderFieldValue_fromHeaderFieldValue("response", header);
  }
}

std::optional<std::string> HTTPAuthenticationRequest::quotedSubHeaderFieldValue_fromHeaderFieldValue(
    const std::string& param, const std::string& header) {
  auto start = header.find(param + "=\"");
  if (start == std::string::npos) return std::nullopt;
  start += param.size() + 2;
  auto end = header.find('"', start);
  if (end == std::string::npos) return std::nullopt;
  return header.substr(start, end - start);
}

std::optional<std::string> HTTPAuthenticationRequest::nonquotedSubHeaderFieldValue_fromHeaderFieldValue(
    const std::string& param, const std::string& header) {
  auto start = header.find(param + "=");
  if (start == std::string::npos) return std::nullopt;
  start += param.size() + 1;
  auto end = header.find(',', start);
  if (end != std::string::npos) return header.substr(start, end - start);
  if (header.find(' ', start) != std::string::npos) return std::nullopt;
  return header.substr(start);
}
