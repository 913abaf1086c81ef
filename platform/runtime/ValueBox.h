#pragma once
// Values that are not objects (strings, numbers, containers, dates, data, null) cross the
// runtime as an `id` inside a ValueBox, and come out as the same ns::Value.
#include <string>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns::runtime {

class ValueBox : public Object {
 public:
  explicit ValueBox(Value value) : value_(std::move(value)) {}
  const Value& value() const { return value_; }
  // The platform class the value stands for: NSString, NSNumber, NSArray...
  std::string className() const override;
  std::string description() const override { return value_.description(); }
  bool isEqual(const Object* other) const override;
  std::size_t hash() const override { return value_.hash(); }

 private:
  Value value_;
};

// An object for a value: the object itself for an object value, null for nil, else a box kept
// alive by `keep`.
Object* boxValue(const Value& value, Ref<Object>& keep);
// The value an object stands for: the boxed value, or the object itself.
Value unboxValue(Object* object);

}  // namespace ns::runtime
