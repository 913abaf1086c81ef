#pragma once
// The UID value of binary property lists: an index into a keyed archive's object table. It
// travels inside ns::Value as an object reference and compares by number.
#include <cstdint>
#include <string>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns {

class PropertyListUID : public Object {
 public:
  explicit PropertyListUID(std::uint64_t value) : value_(value) {}

  static Value uid(std::uint64_t value) { return Value(make<PropertyListUID>(value)); }
  // The UID held by `value`, or nullptr when it holds something else.
  static const PropertyListUID* from(const Value& value);

  std::uint64_t value() const { return value_; }

  std::string className() const override { return "__NSCFKeyedArchiverUID"; }
  std::string description() const override;
  bool isEqual(const Object* other) const override;
  std::size_t hash() const override { return static_cast<std::size_t>(value_ * 0x9E3779B97F4A7C15ull); }

 private:
  std::uint64_t value_;
};

}  // namespace ns
