#pragma once
// Exceptions are raised only for misuse (a bad range, an invalid argument), as the platform does;
// failures at run time travel as ns::Error instead.
#include <exception>
#include <string>

#include "platform/core/Format.h"
#include "platform/core/Value.h"

namespace ns {

inline constexpr char NSGenericException[] = "NSGenericException";
inline constexpr char NSRangeException[] = "NSRangeException";
inline constexpr char NSInvalidArgumentException[] = "NSInvalidArgumentException";
inline constexpr char NSInternalInconsistencyException[] = "NSInternalInconsistencyException";
inline constexpr char NSMallocException[] = "NSMallocException";
inline constexpr char NSObjectInaccessibleException[] = "NSObjectInaccessibleException";
inline constexpr char NSObjectNotAvailableException[] = "NSObjectNotAvailableException";
inline constexpr char NSDestinationInvalidException[] = "NSDestinationInvalidException";
inline constexpr char NSPortTimeoutException[] = "NSPortTimeoutException";
inline constexpr char NSInvalidSendPortException[] = "NSInvalidSendPortException";
inline constexpr char NSInvalidReceivePortException[] = "NSInvalidReceivePortException";
inline constexpr char NSPortSendException[] = "NSPortSendException";
inline constexpr char NSPortReceiveException[] = "NSPortReceiveException";
inline constexpr char NSCharacterConversionException[] = "NSCharacterConversionException";
inline constexpr char NSFileHandleOperationException[] = "NSFileHandleOperationException";
inline constexpr char NSParseErrorException[] = "NSParseErrorException";
inline constexpr char NSInvalidArchiveOperationException[] = "NSInvalidArchiveOperationException";
inline constexpr char NSInvalidUnarchiveOperationException[] = "NSInvalidUnarchiveOperationException";
inline constexpr char NSUndefinedKeyException[] = "NSUndefinedKeyException";

class Exception : public std::exception {
 public:
  Exception(std::string name, std::string reason, Dictionary userInfo = {});

  static Exception exceptionWithName_reason_userInfo(std::string name, std::string reason,
                                                     Dictionary userInfo = {}) {
    return Exception(std::move(name), std::move(reason), std::move(userInfo));
  }
  [[noreturn]] static void raise(std::string name, std::string reason);
  // raise:format: - the reason is formatted like ns::format.
  template <class... Args>
  [[noreturn]] static void raise_format(std::string name, std::string_view fmt, const Args&... args) {
    raise(std::move(name), ns::format(fmt, args...));
  }

  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  const Dictionary& userInfo() const { return userInfo_; }

  // Throws this exception.
  [[noreturn]] void raise() const;

  // "NAME: REASON", for crash reports and logs.
  const char* what() const noexcept override { return what_.c_str(); }
  std::string description() const { return reason_; }

 private:
  std::string name_;
  std::string reason_;
  Dictionary userInfo_;
  std::string what_;
};

}  // namespace ns
