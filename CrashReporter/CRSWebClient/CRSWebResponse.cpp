#include "CrashReporter/CRSWebClient/CRSWebResponse.h"

#include "platform/core/Format.h"

std::string CRSWebResponse::description() const {
  ns::Dictionary headers;
  for (const auto& [name, value] : responseHeaders_) headers.set(name, value);
  return ns::format("{request: %@, status: %lu, body: %@, error: %@, headers: %@}",
                    requestURL_ ? requestURL_->absoluteString() : std::string("(null)"),
                    static_cast<unsigned long>(statusCode_), body_.isNil() ? ns::Value("(null)") : body_,
                    error_ ? error_->description() : std::string("(null)"), ns::Value(headers));
}
