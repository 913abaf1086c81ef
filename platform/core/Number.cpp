#include "platform/core/Number.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>

namespace ns {

namespace {

using Int128 = __int128;

constexpr double kTwo63 = 9223372036854775808.0;
constexpr double kTwo64 = 18446744073709551616.0;

template <class T>
T saturate(double d) {
  if (std::isnan(d)) return 0;
  if (d <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  // Compare against the first value past the maximum, which doubles represent exactly.
  double past = static_cast<double>(std::numeric_limits<T>::max() / 2 + 1) * 2.0;
  if (d >= past) return std::numeric_limits<T>::max();
  return static_cast<T>(d);
}

ComparisonResult sign(Int128 a, Int128 b) {
  return a < b ? OrderedAscending : a > b ? OrderedDescending : OrderedSame;
}

// Exact comparison of an integer with a double.
ComparisonResult compareIntDouble(Int128 i, double d) {
  if (std::isnan(d)) return OrderedDescending;  // NaN sorts first
  if (d >= kTwo64) return OrderedAscending;
  if (d < -kTwo63) return OrderedDescending;
  double fl = std::floor(d);
  Int128 whole = static_cast<Int128>(fl);
  if (i != whole) return sign(i, whole);
  return d > fl ? OrderedAscending : OrderedSame;
}

}  // namespace

const char* Number::objCType() const {
  switch (kind_) {
    case Kind::Bool:
    case Kind::Int8:
      return "c";
    case Kind::Int16:
      return "s";
    case Kind::Int32:
      return "i";
    case Kind::Int64:
      return "q";
    case Kind::UInt8:
      return "C";
    case Kind::UInt16:
      return "S";
    case Kind::UInt32:
      return "I";
    case Kind::UInt64:
      return "Q";
    case Kind::Float:
      return "f";
    case Kind::Double:
      return "d";
  }
  return "i";
}

bool Number::boolValue() const {
  if (isFloatingPoint()) return d_ != 0.0;
  return isUnsigned() ? u_ != 0 : i_ != 0;
}

long long Number::longLongValue() const {
  if (isFloatingPoint()) return saturate<long long>(d_);
  return isUnsigned() ? static_cast<long long>(u_) : i_;
}

unsigned long long Number::unsignedLongLongValue() const {
  if (isFloatingPoint()) {
    // Negative values convert through the signed type, as C code on the platform does.
    if (d_ < 0) return static_cast<unsigned long long>(saturate<long long>(d_));
    return saturate<unsigned long long>(d_);
  }
  return isUnsigned() ? u_ : static_cast<unsigned long long>(i_);
}

int Number::intValue() const {
  if (isFloatingPoint()) return saturate<int>(d_);
  return static_cast<int>(longLongValue());
}

unsigned int Number::unsignedIntValue() const {
  return static_cast<unsigned int>(unsignedLongLongValue());
}

double Number::doubleValue() const {
  if (isFloatingPoint()) return d_;
  return isUnsigned() ? static_cast<double>(u_) : static_cast<double>(i_);
}

std::string Number::description() const {
  if (!isFloatingPoint()) {
    return isUnsigned() ? std::to_string(u_) : std::to_string(i_);
  }
  if (std::isnan(d_)) return "nan";
  if (std::isinf(d_)) return d_ < 0 ? "-inf" : "inf";
  char buf[64];
  int precision = kind_ == Kind::Float ? 7 : 16;
  auto res = std::to_chars(buf, buf + sizeof buf, d_, std::chars_format::general, precision);
  return std::string(buf, res.ptr);
}

ComparisonResult Number::compare(const Number& other) const {
  auto asInt = [](const Number& n) -> Int128 { return n.isUnsigned() ? Int128(n.u_) : Int128(n.i_); };
  if (!isFloatingPoint() && !other.isFloatingPoint()) return sign(asInt(*this), asInt(other));
  if (isFloatingPoint() && other.isFloatingPoint()) {
    bool an = std::isnan(d_), bn = std::isnan(other.d_);
    if (an || bn) return an && bn ? OrderedSame : an ? OrderedAscending : OrderedDescending;
    return d_ < other.d_ ? OrderedAscending : d_ > other.d_ ? OrderedDescending : OrderedSame;
  }
  if (isFloatingPoint()) return static_cast<ComparisonResult>(-compareIntDouble(asInt(other), d_));
  return compareIntDouble(asInt(*this), other.d_);
}

std::size_t Number::hash() const {
  Int128 whole;
  if (isFloatingPoint()) {
    if (std::isnan(d_)) return 0x7ff8000000000000ull;
    if (d_ != std::floor(d_) || d_ >= kTwo64 || d_ < -kTwo63) return std::hash<double>()(d_);
    whole = static_cast<Int128>(d_);
  } else {
    whole = isUnsigned() ? Int128(u_) : Int128(i_);
  }
  return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(whole));
}

}  // namespace ns
