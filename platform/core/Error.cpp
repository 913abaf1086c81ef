#include "platform/core/Error.h"

#include <cerrno>
#include <cstring>

namespace ns {

namespace {
constexpr char kCouldNotComplete[] = "The operation couldn\u2019t be completed.";

std::string posixMessage(long code) {
  char buf[256];
  // GNU strerror_r answers a pointer that may or may not be buf.
  const char* text = strerror_r(static_cast<int>(code), buf, sizeof buf);
  return text ? text : "Unknown error";
}

std::optional<std::string> stringFor(const Dictionary& info, const char* key) {
  const Value& v = info.objectForKey(key);
  if (v.isString()) return v.string();
  return std::nullopt;
}
}  // namespace

Error::Error(std::string domain, long code, Dictionary userInfo)
    : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

Error Error::withDescription(std::string domain, long code, std::string description) {
  return Error(std::move(domain), code, Dictionary{{NSLocalizedDescriptionKey, std::move(description)}});
}

Error Error::posix(int errnoValue, std::optional<std::string> path) {
  Dictionary info;
  if (path) info.set(NSFilePathErrorKey, *path);
  return Error(NSPOSIXErrorDomain, errnoValue, std::move(info));
}

Error Error::fromErrno(std::optional<std::string> path) {
  return posix(errno, std::move(path));
}

std::string Error::localizedDescription() const {
  if (auto d = stringFor(userInfo_, NSLocalizedDescriptionKey)) return *d;
  if (auto reason = stringFor(userInfo_, NSLocalizedFailureReasonErrorKey))
    return std::string(kCouldNotComplete) + " " + *reason;
  if (domain_ == NSPOSIXErrorDomain) return std::string(kCouldNotComplete) + " " + posixMessage(code_);
  return std::string(kCouldNotComplete) + " (" + domain_ + " error " + std::to_string(code_) + ".)";
}

std::optional<std::string> Error::localizedFailureReason() const {
  return stringFor(userInfo_, NSLocalizedFailureReasonErrorKey);
}

std::optional<std::string> Error::localizedRecoverySuggestion() const {
  return stringFor(userInfo_, NSLocalizedRecoverySuggestionErrorKey);
}

std::optional<Error> Error::underlyingError() const {
  return fromValue(userInfo_.objectForKey(NSUnderlyingErrorKey));
}

Error Error::withUnderlyingError(const Error& underlying) const {
  Error copy = *this;
  copy.userInfo_.set(NSUnderlyingErrorKey, underlying.toValue());
  return copy;
}

Value Error::toValue() const {
  return Value(make<ErrorObject>(*this));
}

std::optional<Error> Error::fromValue(const Value& value) {
  if (auto obj = value.objectAs<ErrorObject>()) return obj->error();
  return std::nullopt;
}

std::string Error::description() const {
  std::string out = "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"";
  auto d = stringFor(userInfo_, NSLocalizedDescriptionKey);
  out += d ? *d : "(null)";
  out += "\"";
  if (!userInfo_.empty()) {
    out += " UserInfo={";
    bool first = true;
    for (const auto& [k, v] : userInfo_) {
      if (!first) out += ", ";
      first = false;
      out += k.description() + "=" + v.description();
    }
    out += "}";
  }
  return out;
}

bool Error::isEqual(const Error& other) const {
  return code_ == other.code_ && domain_ == other.domain_ && userInfo_ == other.userInfo_;
}

std::string ErrorObject::description() const {
  return error_.description();
}

bool ErrorObject::isEqual(const Object* other) const {
  auto o = dynamic_cast<const ErrorObject*>(other);
  return o && o->error_ == error_;
}

std::size_t ErrorObject::hash() const {
  return std::hash<std::string>()(error_.domain()) ^ static_cast<std::size_t>(error_.code());
}

}  // namespace ns
