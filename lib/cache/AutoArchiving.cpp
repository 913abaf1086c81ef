#include "lib/cache/AutoArchiving.h"

#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/foundation/FileIO.h"
#include "platform/runtime/AssociatedObjects.h"
#include "platform/runtime/KeyValueCoding.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"
#include "platform/runtime/ValueBox.h"
#include "platform/serialization/CodingRegistry.h"
#include "platform/serialization/KeyedArchiver.h"
#include "platform/serialization/KeyedUnarchiver.h"
#include "platform/serialization/PropertyListSerialization.h"

namespace {

// Keys of the per-class maps kept as associated objects of the class records.
const char kOwnMapKey = 0;
const char kMergedMapKey = 0;

// Value classes that exist without a runtime class record.
const std::set<std::string>& valueClassNames() {
  static const std::set<std::string> names = {
      "NSObject", "NSString",       "NSMutableString", "NSNumber",
      "NSValue",  "NSData",         "NSMutableData",   "NSDate",
      "NSArray",  "NSMutableArray", "NSDictionary",    "NSMutableDictionary",
      "NSSet",    "NSMutableSet",   "NSNull",          "NSError"};
  return names;
}

bool classExists(const std::string& name) {
  return valueClassNames().count(name) || ns::NSClassFromString(name) != nullptr;
}

// The class a property's values must have, or nullopt when the property is not coded.
std::optional<std::string> expectedClass(const std::string& type) {
  if (type.empty()) return std::nullopt;
  static const std::string numeric = "BcCsSiIlLqQfd";
  if (numeric.find(type[0]) != std::string::npos) return "NSNumber";
  if (type[0] == '{') return "NSValue";
  if (type[0] == '@') {
    if (type.size() < 3 || type[1] != '"') return std::nullopt;  // untyped object or block
    std::string name =
        type.substr(2, type.find('"', 2) == std::string::npos ? std::string::npos : type.find('"', 2) - 2);
    name = name.substr(0, name.find('<'));
    return !name.empty() && classExists(name) ? name : std::string("NSObject");
  }
  return std::nullopt;
}

bool classAnswers(ns::Class cls, const char* selector) {
  return ns::class_getClassMethod(cls, selector) != nullptr || ns::class_respondsToSelector(cls, selector);
}

// Mutable and immutable forms are one kind of value here.
std::string immutableName(const std::string& name) {
  if (name.rfind("NSMutable", 0) == 0) return "NS" + name.substr(9);
  return name;
}

std::string classNameOfValue(const ns::Value& value) {
  if (value.isObject()) return ns::NSStringFromClass(ns::object_getClass(value.object().get()));
  return ns::runtime::ValueBox(value).className();
}

bool valueIsKindOf(const ns::Value& value, const std::string& expected) {
  if (expected == "NSObject") return true;
  if (value.isObject()) {
    ns::Class expectedClass = ns::NSClassFromString(expected);
    return expectedClass && ns::isKindOfClass(value.object().get(), expectedClass);
  }
  for (const auto& c : ns::CodingRegistry::hierarchy(classNameOfValue(value))) {
    if (c == immutableName(expected)) return true;
  }
  return false;
}

ns::Dictionary buildOwnMap(ns::Class cls) {
  if (classAnswers(cls, "codableKeys")) {
    ns::Log(
        "AutoArchiving Warning: codableKeys method is no longer supported. Use codableProperties instead.");
  }
  if (classAnswers(cls, "uncodableKeys")) {
    ns::Log(
        "AutoArchiving Warning: uncodableKeys method is no longer supported. Use ivars, or synthesize your "
        "properties using non-KVC-compliant names to avoid coding them instead.");
  }
  std::set<std::string> excluded;
  if (classAnswers(cls, "uncodableProperties")) {
    ns::Value list;
    try {
      if (ns::class_getClassMethod(cls, "uncodableProperties")) {
        list = ns::send<ns::Value>(cls, "uncodableProperties");
      } else {
        list = ns::send<ns::Value>(ns::class_createInstance(cls), "uncodableProperties");
      }
    } catch (const ns::Exception& e) {
      ns::Log("AutoArchiving: %@ could not answer uncodableProperties: %@", ns::NSStringFromClass(cls),
              e.reason());
    }
    for (const auto& name : list.array()) excluded.insert(name.stringValue());
    ns::Log(
        "AutoArchiving Warning: uncodableProperties method is no longer supported. Use ivars, or synthesize "
        "your properties using non-KVC-compliant names to avoid coding them instead.");
  }
  ns::Dictionary map;
  for (ns::Property p : ns::class_copyPropertyList(cls)) {
    std::string name = ns::property_getName(p);
    if (excluded.count(name)) continue;
    auto expected = expectedClass(p->attribute("T").value_or(""));
    if (!expected) continue;
    if (auto ivar = p->attribute("V")) {
      if (*ivar != name && *ivar != "_" + name) continue;
    } else if (!p->attribute("D") || p->attribute("R")) {
      continue;
    }
    map.set(ns::Value(name), ns::Value(*expected));
  }
  return map;
}

// Builds a per-class map once and keeps it on the class record.
ns::Dictionary cachedMap(ns::Class cls, const void* key, ns::Dictionary (*build)(ns::Class)) {
  // Recursive: the merged map is built from the cached maps of each class.
  static std::recursive_mutex lock;
  std::lock_guard guard(lock);
  ns::Value cached = ns::objc_getAssociatedValue(cls, key);
  if (cached.isDictionary()) return cached.dictionary();
  ns::Dictionary map = build(cls);
  ns::objc_setAssociatedObject(cls, key, ns::Value(map), ns::OBJC_ASSOCIATION_RETAIN);
  return map;
}

ns::Dictionary buildMergedMap(ns::Class cls) {
  ns::Class root = ns::NSClassFromString("NSObject");
  ns::Dictionary merged;
  for (ns::Class c = cls; c && c != root; c = ns::class_getSuperclass(c)) {
    merged.addEntriesFromDictionary(AutoArchiving::codablePropertiesOfClass(c));
  }
  return merged;
}

// Lets the keyed unarchiver make instances of every runtime class that archives itself.
std::optional<ns::CodingClass> resolveRuntimeClass(const std::string& name) {
  static std::mutex lock;
  static std::map<std::string, std::optional<ns::CodingClass>> known;
  {
    std::lock_guard guard(lock);
    auto it = known.find(name);
    if (it != known.end()) return it->second;
  }
  std::optional<ns::CodingClass> result;
  ns::Class cls = ns::NSClassFromString(name);
  if (cls) {
    try {
      if (dynamic_cast<ns::Coding*>(ns::class_createInstance(cls).get())) {
        ns::Class super = ns::class_getSuperclass(cls);
        result = ns::CodingClass{name, super ? ns::NSStringFromClass(super) : std::string(),
                                 [cls] { return ns::class_createInstance(cls); }, true};
      }
    } catch (const ns::Exception&) {
      // A class that cannot make instances by name cannot be unarchived.
    }
  }
  std::lock_guard guard(lock);
  known[name] = result;
  return result;
}

[[maybe_unused]] const bool resolverInstalled = [] {
  ns::CodingRegistry::setResolver(resolveRuntimeClass);
  return true;
}();

}  // namespace

ns::Dictionary AutoArchiving::codablePropertiesOfClass(ns::Class cls) {
  return cls ? cachedMap(cls, &kOwnMapKey, buildOwnMap) : ns::Dictionary();
}

ns::Dictionary AutoArchiving::allCodablePropertiesOfClass(ns::Class cls) {
  return cls ? cachedMap(cls, &kMergedMapKey, buildMergedMap) : ns::Dictionary();
}

const ns::Object& AutoArchiving::object() const {
  auto* object = dynamic_cast<const ns::Object*>(this);
  if (!object)
    ns::Exception::raise(ns::NSInternalInconsistencyException, "AutoArchiving needs an ns::Object");
  return *object;
}

ns::Dictionary AutoArchiving::codableProperties() const {
  return allCodablePropertiesOfClass(ns::object_getClass(&object()));
}

ns::Dictionary AutoArchiving::dictionaryRepresentation() const {
  ns::Dictionary result;
  for (const auto& [name, cls] : codableProperties()) {
    ns::Value value = ns::valueForKey(&object(), name.string());
    if (!value.isNil()) result.set(name, value);
  }
  return result;
}

void AutoArchiving::encodeWithCoder(ns::Coder& coder) const {
  for (const auto& [name, cls] : codableProperties()) {
    ns::Value value = ns::valueForKey(&object(), name.string());
    if (!value.isNil()) coder.encodeObject_forKey(value, name.string());
  }
}

void AutoArchiving::initWithCoder(ns::Coder& coder) {
  setWithCoder(coder);
}

void AutoArchiving::setWithCoder(ns::Coder& coder) {
  ns::Class cls = ns::object_getClass(&object());
  bool check = true;
  if (ns::class_getClassMethod(cls, "supportsSecureCoding")) {
    check = ns::send<ns::BOOL>(cls, "supportsSecureCoding") != ns::NO;
  }
  auto* self = const_cast<ns::Object*>(&object());
  for (const auto& [name, expected] : codableProperties()) {
    ns::Value value = coder.decodeObjectOfClass_forKey(expected.string(), name.string());
    if (value.isNil()) continue;
    if (check && !valueIsKindOf(value, expected.string())) {
      ns::Exception::raise_format(AutoArchivingException, "Expected '%@' to be a %@, but was actually a %@",
                                  name, expected, classNameOfValue(value));
    }
    ns::setValue_forKey(self, value, name.string());
  }
}

std::string AutoArchiving::classNameForKeyedArchiver() const {
  return ns::NSStringFromClass(ns::object_getClass(&object()));
}

ns::Value AutoArchiving::objectWithContentsOfFile(const std::string& path) {
  auto bytes = ns::dataWithContentsOfFile(path);
  if (!bytes) return {};
  ns::Value plist = ns::PropertyListSerialization::propertyListWithData(*bytes);
  if (plist.isNil()) return ns::Value(*bytes);
  if (plist.isDictionary() && plist.dictionary().contains("$archiver")) {
    try {
      return ns::KeyedUnarchiver::unarchiveObjectWithData(*bytes);
    } catch (const ns::Exception& e) {
      // An archive the unarchiver cannot decode reads as no file; AutoArchivingException is for
      // the caller.
      if (e.name() != ns::NSInvalidUnarchiveOperationException) throw;
      return {};
    }
  }
  return plist;
}

bool AutoArchiving::writeToFile_atomically(const std::string& path, bool atomically) const {
  auto self = std::const_pointer_cast<ns::Object>(object().weak_from_this().lock());
  if (!self) return false;
  ns::Error error;
  auto data = ns::KeyedArchiver::archivedDataWithRootObject_requiringSecureCoding_error(ns::Value(self),
                                                                                        false, &error);
  if (!data) {
    ns::Log("AutoArchiving: could not archive %@: %@", self->className(), error);
    return false;
  }
  return ns::writeDataToFile(*data, path, atomically ? ns::DataWritingAtomic : 0u, nullptr);
}
