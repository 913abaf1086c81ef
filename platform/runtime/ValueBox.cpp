#include "platform/runtime/ValueBox.h"

#include "platform/runtime/TypeCodec.h"

namespace ns::runtime {

std::string ValueBox::className() const {
  switch (value_.kind()) {
    case Value::Kind::Null:
      return "NSNull";
    case Value::Kind::Number:
      return "NSNumber";
    case Value::Kind::String:
      return "NSString";
    case Value::Kind::Data:
      return "NSData";
    case Value::Kind::Date:
      return "NSDate";
    case Value::Kind::Array:
      return "NSArray";
    case Value::Kind::Dictionary:
      return "NSDictionary";
    case Value::Kind::Set:
      return "NSSet";
    default:
      return "NSObject";
  }
}

bool ValueBox::isEqual(const Object* other) const {
  auto* box = dynamic_cast<const ValueBox*>(other);
  return box && box->value_ == value_;
}

Object* boxValue(const Value& value, Ref<Object>& keep) {
  if (value.isNil()) return nullptr;
  if (value.isObject()) return value.object().get();
  keep = make<ValueBox>(value);
  return keep.get();
}

Value unboxValue(Object* object) {
  if (!object) return Value();
  if (auto* box = dynamic_cast<ValueBox*>(object)) return box->value();
  return Value(detail::tryRetain(object));
}

}  // namespace ns::runtime
