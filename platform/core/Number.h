#pragma once
// A number that remembers the machine kind it was made from (a boolean stays a boolean, an
// unsigned 64-bit value keeps every bit) and compares by value across kinds: 18 == 18.0, YES == 1.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/core/Types.h"

namespace ns {

class Number {
 public:
  enum class Kind : std::uint8_t {
    Bool,
    Int8,
    Int16,
    Int32,
    Int64,
    UInt8,
    UInt16,
    UInt32,
    UInt64,
    Float,
    Double
  };

  constexpr Number() : kind_(Kind::Int32), i_(0) {}
  constexpr Number(bool v) : kind_(Kind::Bool), i_(v ? 1 : 0) {}
  constexpr Number(signed char v) : kind_(Kind::Int8), i_(v) {}
  constexpr Number(short v) : kind_(Kind::Int16), i_(v) {}
  constexpr Number(int v) : kind_(Kind::Int32), i_(v) {}
  constexpr Number(long v) : kind_(Kind::Int64), i_(v) {}
  constexpr Number(long long v) : kind_(Kind::Int64), i_(v) {}
  constexpr Number(unsigned char v) : kind_(Kind::UInt8), u_(v) {}
  constexpr Number(unsigned short v) : kind_(Kind::UInt16), u_(v) {}
  constexpr Number(unsigned int v) : kind_(Kind::UInt32), u_(v) {}
  constexpr Number(unsigned long v) : kind_(Kind::UInt64), u_(v) {}
  constexpr Number(unsigned long long v) : kind_(Kind::UInt64), u_(v) {}
  constexpr Number(float v) : kind_(Kind::Float), d_(v) {}
  constexpr Number(double v) : kind_(Kind::Double), d_(v) {}

  static constexpr Number numberWithBool(bool v) { return Number(v); }
  static constexpr Number numberWithInt(int v) { return Number(v); }
  static constexpr Number numberWithInteger(long v) { return Number(v); }
  static constexpr Number numberWithLongLong(long long v) { return Number(v); }
  static constexpr Number numberWithUnsignedLongLong(unsigned long long v) { return Number(v); }
  static constexpr Number numberWithDouble(double v) { return Number(v); }

  Kind kind() const { return kind_; }
  bool isBool() const { return kind_ == Kind::Bool; }
  bool isFloatingPoint() const { return kind_ == Kind::Float || kind_ == Kind::Double; }
  bool isInteger() const { return !isFloatingPoint(); }
  bool isUnsigned() const { return kind_ >= Kind::UInt8 && kind_ <= Kind::UInt64; }
  // The platform's type encoding: "c" (bool and int8), "s", "i", "q", "C", "S", "I", "Q", "f", "d".
  const char* objCType() const;

  // C conversions, except that floating values outside the target range saturate (and NaN is 0)
  // instead of being undefined.
  bool boolValue() const;
  int intValue() const;
  unsigned int unsignedIntValue() const;
  long integerValue() const { return static_cast<long>(longLongValue()); }
  unsigned long unsignedIntegerValue() const { return static_cast<unsigned long>(unsignedLongLongValue()); }
  long long longLongValue() const;
  unsigned long long unsignedLongLongValue() const;
  double doubleValue() const;
  float floatValue() const { return static_cast<float>(doubleValue()); }

  // "1" for YES, "18", "-3", "0.1", "1e+20": integers in decimal, floating values in the shortest
  // form that reads back to the same value.
  std::string description() const;
  std::string stringValue() const { return description(); }

  ComparisonResult compare(const Number& other) const;
  bool isEqualToNumber(const Number& other) const { return compare(other) == OrderedSame; }
  friend bool operator==(const Number& a, const Number& b) { return a.compare(b) == OrderedSame; }
  friend bool operator<(const Number& a, const Number& b) { return a.compare(b) == OrderedAscending; }
  // Equal numbers hash alike whatever their kinds.
  std::size_t hash() const;

 private:
  Kind kind_;
  union {
    std::int64_t i_;   // Bool and signed kinds
    std::uint64_t u_;  // unsigned kinds
    double d_;         // Float and Double
  };
};

}  // namespace ns
