#pragma once
// Responses: the plain URL response (file and data loads) and the HTTP response with status and
// header fields. expectedContentLength is -1 when the length is unknown.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URL.h"

namespace ns {

inline constexpr std::int64_t URLResponseUnknownLength = -1;

class URLResponse : public Object {
 public:
  URLResponse(Ref<ns::URL> url, std::optional<std::string> mimeType, std::int64_t expectedContentLength,
              std::optional<std::string> textEncodingName);

  const Ref<ns::URL>& URL() const { return url_; }
  const std::optional<std::string>& MIMEType() const { return mimeType_; }
  std::int64_t expectedContentLength() const { return expectedContentLength_; }
  const std::optional<std::string>& textEncodingName() const { return textEncodingName_; }
  // The file name from Content-Disposition, else the URL's last path component, else "Unknown".
  virtual std::string suggestedFilename() const;

  std::string className() const override { return "NSURLResponse"; }
  std::string description() const override;

 protected:
  Ref<ns::URL> url_;
  std::optional<std::string> mimeType_;
  std::int64_t expectedContentLength_;
  std::optional<std::string> textEncodingName_;
};

class HTTPURLResponse : public URLResponse {
 public:
  // MIME type, text encoding and expected length come from Content-Type and Content-Length.
  HTTPURLResponse(Ref<ns::URL> url, long statusCode, std::string httpVersion, HTTPHeaderFields headerFields);
  static Ref<HTTPURLResponse> initWithURL_statusCode_HTTPVersion_headerFields(Ref<ns::URL> url,
                                                                              long statusCode,
                                                                              std::string httpVersion,
                                                                              HTTPHeaderFields headerFields);

  long statusCode() const { return statusCode_; }
  const HTTPHeaderFields& allHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const {
    return headers_.get(name);
  }
  // "HTTP/1.1"
  const std::string& HTTPVersion() const { return httpVersion_; }
  std::string suggestedFilename() const override;

  // The platform's short lower-case phrase: "no error" for 200, "not found" for 404 ...
  static std::string localizedStringForStatusCode(long statusCode);

  std::string className() const override { return "NSHTTPURLResponse"; }
  std::string description() const override;

 private:
  long statusCode_;
  std::string httpVersion_;
  HTTPHeaderFields headers_;
};

enum URLCacheStoragePolicy : unsigned {
  URLCacheStorageAllowed = 0,
  URLCacheStorageAllowedInMemoryOnly = 1,
  URLCacheStorageNotAllowed = 2,
};

class CachedURLResponse : public Object {
 public:
  CachedURLResponse(Ref<URLResponse> response, Data data, Dictionary userInfo = {},
                    URLCacheStoragePolicy storagePolicy = URLCacheStorageAllowed)
      : response_(std::move(response)),
        data_(std::move(data)),
        userInfo_(std::move(userInfo)),
        storagePolicy_(storagePolicy) {}
  const Ref<URLResponse>& response() const { return response_; }
  const Data& data() const { return data_; }
  const Dictionary& userInfo() const { return userInfo_; }
  URLCacheStoragePolicy storagePolicy() const { return storagePolicy_; }
  std::string className() const override { return "NSCachedURLResponse"; }

 private:
  Ref<URLResponse> response_;
  Data data_;
  Dictionary userInfo_;
  URLCacheStoragePolicy storagePolicy_;
};

// Splits a Content-Type value into the lower-case MIME type and the charset parameter.
void parseContentType(std::string_view value, std::optional<std::string>* mimeType,
                      std::optional<std::string>* charset);

}  // namespace ns
