#pragma once
// printf-style formatting with the platform's "%@" (any Value, Object, string, Error, Number,
// Data or Date prints its description). The arguments are captured with their types, so a
// conversion that does not match its argument prints something sensible instead of reading
// garbage: "%d" of a double truncates it, "%s" of a Value prints its description, a missing
// argument prints "(null)" or 0.
//
// Supported: d i u o x X c C s S @ p f F e E g G a A %%, flags "-+ #0'", width and precision
// (also "*"), length modifiers hh h l ll q j z t L (integers without one are truncated to 32 bits
// as the platform's int would be), and positional arguments ("%2$@").
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace ns {

namespace detail {

class FormatArg {
 public:
  enum class Type : std::uint8_t {
    Signed,
    Unsigned,
    Double,
    CString,
    String,
    Pointer,
    Object,
    Described,
    Numeric
  };

  FormatArg(bool v) : type_(Type::Signed), i_(v) {}
  FormatArg(char v) : type_(Type::Signed), i_(v) {}
  FormatArg(char16_t v) : type_(Type::Unsigned), u_(v) {}
  FormatArg(char32_t v) : type_(Type::Unsigned), u_(v) {}
  template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
  FormatArg(T v) : type_(Type::Signed), i_(v) {}
  template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T>, int> = 0>
  FormatArg(T v) : type_(Type::Unsigned), u_(v) {}
  template <class T, std::enable_if_t<std::is_enum_v<T>, int> = 0>
  FormatArg(T v) : FormatArg(static_cast<std::underlying_type_t<T>>(v)) {}
  FormatArg(float v) : type_(Type::Double), d_(v) {}
  FormatArg(double v) : type_(Type::Double), d_(v) {}
  FormatArg(long double v) : type_(Type::Double), d_(static_cast<double>(v)) {}
  FormatArg(const char* s) : type_(Type::CString), p_(s) {}
  FormatArg(char* s) : type_(Type::CString), p_(s) {}
  FormatArg(std::nullptr_t) : type_(Type::CString), p_(nullptr) {}
  FormatArg(const std::string& s) : type_(Type::String), sv_(s) {}
  FormatArg(std::string_view s) : type_(Type::String), sv_(s) {}
  FormatArg(const std::optional<std::string>& s)
      : type_(s ? Type::String : Type::CString),
        p_(nullptr),
        sv_(s ? std::string_view(*s) : std::string_view()) {}
  template <class T, std::enable_if_t<std::is_base_of_v<Object, T>, int> = 0>
  FormatArg(const Ref<T>& o) : type_(Type::Object), p_(static_cast<const Object*>(o.get())) {}
  template <class T, std::enable_if_t<std::is_base_of_v<Object, T>, int> = 0>
  FormatArg(const Weak<T>& o) = delete;  // lock it first
  template <class T, std::enable_if_t<std::is_base_of_v<Object, T>, int> = 0>
  FormatArg(T* o) : type_(Type::Object), p_(static_cast<const Object*>(o)) {}
  template <
      class T,
      std::enable_if_t<!std::is_base_of_v<Object, T> && !std::is_same_v<std::remove_cv_t<T>, char>, int> = 0>
  FormatArg(T* p) : type_(Type::Pointer), p_(p) {}
  template <class T, std::enable_if_t<std::is_base_of_v<Object, T>, int> = 0>
  FormatArg(const T& o) : type_(Type::Object), p_(static_cast<const Object*>(&o)) {}
  FormatArg(const Value& v) : type_(Type::Numeric), p_(&v), describe_(&describeValue) {}
  FormatArg(const Number& n) : type_(Type::Numeric), p_(&n), describe_(&describeNumber) {}
  FormatArg(const Error& e) : type_(Type::Described), p_(&e), describe_(&describeError) {}
  FormatArg(const Data& d) : type_(Type::Described), p_(&d), describe_(&describeData) {}
  FormatArg(const MutableData& d) : type_(Type::Described), p_(&d), describe_(&describeMutableData) {}
  FormatArg(const Date& d) : type_(Type::Described), p_(&d), describe_(&describeDate) {}
  FormatArg(const Array& a) : type_(Type::Described), p_(&a), describe_(&describeArray) {}
  FormatArg(const Dictionary& d) : type_(Type::Described), p_(&d), describe_(&describeDictionary) {}
  FormatArg(const Set& s) : type_(Type::Described), p_(&s), describe_(&describeSet) {}

  Type type() const { return type_; }
  // Accessors used by the formatter.
  long long asSigned() const;
  unsigned long long asUnsigned() const;
  double asDouble() const;
  bool isNumeric() const;
  bool isFloating() const;
  const void* pointer() const;
  // What "%@" prints for this argument.
  std::string text() const;

 private:
  static std::string describeValue(const void* p);
  static std::string describeNumber(const void* p);
  static std::string describeError(const void* p);
  static std::string describeData(const void* p);
  static std::string describeMutableData(const void* p);
  static std::string describeDate(const void* p);
  static std::string describeArray(const void* p);
  static std::string describeDictionary(const void* p);
  static std::string describeSet(const void* p);
  // For Numeric arguments: the held number, if it is one.
  std::optional<Number> heldNumber() const;

  Type type_;
  union {
    long long i_;
    unsigned long long u_;
    double d_;
    const void* p_;
  };
  std::string_view sv_;
  std::string (*describe_)(const void*) = nullptr;
};

std::string formatArgs(std::string_view fmt, const FormatArg* args, std::size_t count);

// One printf directive as written, from its '%' up to and including its conversion character.
struct FormatDirective {
  std::size_t positional = 0;  // n of "%n$...", 1-based; 0 when absent
  bool minus = false, plus = false, space = false, hash = false, zero = false, quote = false;
  int width = -1;  // -1 when absent
  bool widthFromArgument = false;
  std::size_t widthArgument = 0;  // m of "*m$", 1-based; 0 for the next argument
  int precision = -1;             // -1 when absent
  bool precisionFromArgument = false;
  std::size_t precisionArgument = 0;
  std::string_view length;  // "", "hh", "h", "l", "ll", "q", "j", "z", "t" or "L"
  char conversion = 0;
  std::size_t end = 0;  // just past the conversion character

  // Nothing between the '%' and the length modifier.
  bool isPlain() const {
    return positional == 0 && !minus && !plus && !space && !hash && !zero && !quote && width < 0 &&
           !widthFromArgument && precision < 0 && !precisionFromArgument;
  }
};

// Reads the directive whose '%' is at fmt[start]. Answers false when the format ends before a
// conversion character. Widths and precisions written as numbers are clamped to 65536.
bool parseFormatDirective(std::string_view fmt, std::size_t start, FormatDirective& directive);

}  // namespace detail

template <class... Args>
std::string format(std::string_view fmt, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return detail::formatArgs(fmt, nullptr, 0);
  } else {
    const detail::FormatArg list[] = {detail::FormatArg(args)...};
    return detail::formatArgs(fmt, list, sizeof...(Args));
  }
}

}  // namespace ns
