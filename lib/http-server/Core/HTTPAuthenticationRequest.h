#pragma once
// The client's "Authorization" header of one request, split into the fields of the Basic and
// Digest schemes.
#include <optional>
#include <string>

#include "lib/http-server/Core/HTTPMessage.h"

class HTTPAuthenticationRequest : public ns::Object {
 public:
  explicit HTTPAuthenticationRequest(const HTTPMessage& request);
  static ns::Ref<HTTPAuthenticationRequest> initWithRequest(const HTTPMessage& request) {
    return ns::make<HTTPAuthenticationRequest>(request);
  }

  bool isBasic() const { return isBasic_; }
  bool isDigest() const { return isDigest_; }
  const std::optional<std::string>& base64Credentials() const { return base64Credentials_; }
  const std::optional<std::string>& username() const { return username_; }
  const std::optional<std::string>& realm() const { return realm_; }
  const std::optional<std::string>& nonce() const { return nonce_; }
  const std::optional<std::string>& uri() const { return uri_; }
  const std::optional<std::string>& qop() const { return qop_; }
  const std::optional<std::string>& nc() const { return nc_; }
  const std::optional<std::string>& cnonce() const { return cnonce_; }
  const std::optional<std::string>& response() const { return response_; }

  // name="value": the text up to the next double quote; nothing without both quotes.
  static std::optional<std::string> quotedSubHeaderFieldValue_fromHeaderFieldValue(const std::string& param,
                                                                                   const std::string& header);
  // name=value: the text up to the next ","; at the end of the header a value followed by a
  // space is refused.
  static std::optional<std::string> nonquotedSubHeaderFieldValue_fromHeaderFieldValue(
      const std::string& param, const std::string& header);

 private:
  bool isBasic_ = false;
  bool isDigest_ = false;
  std::optional<std::string> base64Credentials_;
  std::optional<std::string> username_;
  std::optional<std::string> realm_;
  std::optional<std::string> nonce_;
  std::optional<std::string> uri_;
  std::optional<std::string> qop_;
  std::optional<std::string> nc_;
  std::optional<std::string> cnonce_;
  std::optional<std::string> response_;
};
