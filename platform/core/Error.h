#pragma once
// Errors as values: a domain, a code and a user-info dictionary. A call that can fail answers
// false/nullptr and fills an `ns::Error*` out-parameter that may be null (see setError); where an
// error may be absent, std::optional<ns::Error> is used.
#include <optional>
#include <string>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns {

// Domains.
inline constexpr char NSCocoaErrorDomain[] = "NSCocoaErrorDomain";
inline constexpr char NSPOSIXErrorDomain[] = "NSPOSIXErrorDomain";
inline constexpr char NSOSStatusErrorDomain[] = "NSOSStatusErrorDomain";
inline constexpr char NSMachErrorDomain[] = "NSMachErrorDomain";
inline constexpr char NSURLErrorDomain[] = "NSURLErrorDomain";

// User-info keys.
inline constexpr char NSLocalizedDescriptionKey[] = "NSLocalizedDescription";
inline constexpr char NSLocalizedFailureReasonErrorKey[] = "NSLocalizedFailureReason";
inline constexpr char NSLocalizedRecoverySuggestionErrorKey[] = "NSLocalizedRecoverySuggestion";
inline constexpr char NSLocalizedRecoveryOptionsErrorKey[] = "NSLocalizedRecoveryOptions";
inline constexpr char NSUnderlyingErrorKey[] = "NSUnderlyingError";
inline constexpr char NSFilePathErrorKey[] = "NSFilePath";
inline constexpr char NSStringEncodingErrorKey[] = "NSStringEncodingErrorKey";
inline constexpr char NSURLErrorKey[] = "NSURL";
inline constexpr char NSURLErrorFailingURLErrorKey[] = "NSErrorFailingURLKey";
inline constexpr char NSURLErrorFailingURLStringErrorKey[] = "NSErrorFailingURLStringKey";
inline constexpr char NSHelpAnchorErrorKey[] = "NSHelpAnchor";

class Error {
 public:
  // An empty error (no domain, code 0), to be filled through an out-parameter:
  //   ns::Error error;
  //   if (!item->save(&error)) ns::Log("%@", error);
  Error() = default;
  Error(std::string domain, long code, Dictionary userInfo = {});
  static Error errorWithDomain_code_userInfo(std::string domain, long code, Dictionary userInfo = {}) {
    return Error(std::move(domain), code, std::move(userInfo));
  }
  // An error with NSLocalizedDescriptionKey set to `description`.
  static Error withDescription(std::string domain, long code, std::string description);
  // An NSPOSIXErrorDomain error for an errno value; `path`, when given, is stored under NSFilePath.
  static Error posix(int errnoValue, std::optional<std::string> path = std::nullopt);
  // posix() for the current errno.
  static Error fromErrno(std::optional<std::string> path = std::nullopt);

  const std::string& domain() const { return domain_; }
  long code() const { return code_; }
  const Dictionary& userInfo() const { return userInfo_; }

  // NSLocalizedDescriptionKey when present; otherwise the platform's text:
  // "The operation couldn’t be completed. (DOMAIN error CODE.)", with the failure reason or, for
  // POSIX errors, the system's message in place of the parenthesis.
  std::string localizedDescription() const;
  std::optional<std::string> localizedFailureReason() const;
  std::optional<std::string> localizedRecoverySuggestion() const;
  // The error under NSUnderlyingErrorKey, if any.
  std::optional<Error> underlyingError() const;
  // A copy with `underlying` stored under NSUnderlyingErrorKey.
  Error withUnderlyingError(const Error& underlying) const;

  // The error as a Value (an object reference), e.g. for NSUnderlyingErrorKey.
  Value toValue() const;
  // The error held by a Value made with toValue(), else nullopt.
  static std::optional<Error> fromValue(const Value& value);

  // "Error Domain=D Code=C \"description\" UserInfo={...}", as "%@" prints it.
  std::string description() const;

  bool isEqual(const Error& other) const;
  friend bool operator==(const Error& a, const Error& b) { return a.isEqual(b); }

 private:
  std::string domain_;
  long code_ = 0;
  Dictionary userInfo_;
};

// An Error wrapped as an object, so that it can live inside Values and user info.
class ErrorObject : public Object {
 public:
  explicit ErrorObject(Error error) : error_(std::move(error)) {}
  const Error& error() const { return error_; }
  std::string className() const override { return "NSError"; }
  std::string description() const override;
  bool isEqual(const Object* other) const override;
  std::size_t hash() const override;

 private:
  Error error_;
};

// Fills an optional out-parameter.
inline void setError(Error* out, Error error) {
  if (out) *out = std::move(error);
}

}  // namespace ns
