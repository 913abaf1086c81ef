#include "platform/serialization/PropertyListUID.h"

namespace ns {

const PropertyListUID* PropertyListUID::from(const Value& value) {
  if (!value.isObject()) return nullptr;
  return dynamic_cast<const PropertyListUID*>(value.object().get());
}

std::string PropertyListUID::description() const {
  return "<CFKeyedArchiverUID>{value = " + std::to_string(value_) + "}";
}

bool PropertyListUID::isEqual(const Object* other) const {
  auto* uid = dynamic_cast<const PropertyListUID*>(other);
  return uid && uid->value_ == value_;
}

}  // namespace ns
