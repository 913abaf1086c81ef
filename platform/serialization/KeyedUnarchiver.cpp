#include "platform/serialization/KeyedUnarchiver.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "platform/core/Exception.h"
#include "platform/core/Str.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"
#include "platform/serialization/CodingRegistry.h"
#include "platform/serialization/KeyedArchiver.h"
#include "platform/serialization/PropertyListSerialization.h"
#include "platform/serialization/PropertyListUID.h"

namespace ns {
namespace {

// Damage to the archive itself, as opposed to a class disagreeing with what it finds.
class ArchiveDamage : public Exception {
 public:
  explicit ArchiveDamage(const std::string& reason)
      : Exception(NSInvalidUnarchiveOperationException, reason) {}
};

[[noreturn]] void damaged(const std::string& reason) {
  throw ArchiveDamage(reason);
}

[[noreturn]] void mismatch(const std::string& method, const std::string& key, const std::string& what) {
  Exception::raise(NSInvalidUnarchiveOperationException,
                   "*** -[NSKeyedUnarchiver " + method + "]: value for key (" + key + ") is not " + what);
}

std::string escapeKey(const std::string& key) {
  return !key.empty() && key[0] == '$' ? "$" + key : key;
}

std::string describe(const std::vector<std::string>& names) {
  std::string text = "{(";
  for (std::size_t i = 0; i < names.size(); ++i) text += (i ? ", " : "") + std::string("\n    ") + names[i];
  return text + "\n)}";
}

Error corruptError(const std::string& why) {
  Dictionary info;
  info.set("NSDebugDescription", why);
  info.set(NSLocalizedDescriptionKey, "The data couldn’t be read because it isn’t in the correct format.");
  return Error(NSCocoaErrorDomain, NSCoderReadCorruptError, std::move(info));
}

}  // namespace

struct KeyedUnarchiver::Impl {
  KeyedUnarchiver* owner = nullptr;
  Array objects;
  Dictionary top;
  std::vector<const Dictionary*> contexts;
  struct Decoded {
    Value value;
    std::string className;
    std::uint64_t nodes = 1;  // values it holds, counting each shared one once per use
  };
  std::unordered_map<std::uint64_t, Decoded> decoded;
  std::unordered_set<std::uint64_t> inProgress;
  std::vector<std::vector<std::string>> allowed;
  int depth = 0;
  // Values share what the archive shares, but whoever walks them (hashing into a set, writing
  // JSON) visits a shared value once per use: a few objects that each hold the next one twice
  // would make a value of 2^n elements. The uses are counted and bounded.
  std::uint64_t nodeLimit = 0;
  std::uint64_t lastNodes = 1;  // the count of the value decodeUid answered last

  const Value* raw(const std::string& key) const { return contexts.back()->find(Value(escapeKey(key))); }

  std::string classNameOf(const Value& raw, std::vector<std::string>* archiveChain) const {
    switch (raw.kind()) {
      case Value::Kind::String:
        return "NSString";
      case Value::Kind::Number:
        return "NSNumber";
      case Value::Kind::Data:
        return "NSData";
      case Value::Kind::Dictionary: {
        auto* classUid = PropertyListUID::from(raw["$class"]);
        if (!classUid || classUid->value() >= objects.size())
          damaged("an object's $class is missing or out of range");
        const Value& entry = objects[classUid->value()];
        if (!entry["$classname"].isString()) damaged("a class entry has no $classname");
        if (archiveChain && entry["$classes"].isArray()) {
          for (const Value& c : entry["$classes"].array()) {
            if (c.isString()) archiveChain->push_back(c.string());
          }
        }
        return entry["$classname"].string();
      }
      default:
        damaged("an entry of $objects cannot be decoded");
    }
  }

  void checkAllowed(const std::string& className, const std::vector<std::string>& archiveChain,
                    const std::string& key) {
    if (!owner->requiresSecureCoding()) return;
    if (allowed.empty()) {
      Exception::raise(
          NSInvalidUnarchiveOperationException,
          "value for key '" + key + "' was decoded without a list of allowed classes by a secure coder");
    }
    const auto& permitted = allowed.back();
    std::vector<std::string> chain = CodingRegistry::hierarchy(className);
    // For a class this process does not know, the archive's own chain is all there is.
    if (chain.size() <= 2 && !CodingRegistry::find(className) && !archiveChain.empty()) chain = archiveChain;
    for (const auto& c : chain) {
      if (std::find(permitted.begin(), permitted.end(), c) != permitted.end()) return;
    }
    Exception::raise(NSInvalidUnarchiveOperationException,
                     "value for key '" + key + "' was of unexpected class '" + className +
                         "'. Allowed classes are '" + describe(permitted) + "'.");
  }

  Value decodeReference(const Value& ref, const std::string& key) {
    auto* u = PropertyListUID::from(ref);
    if (!u) damaged("value for key (" + key + ") is not an object reference");
    return decodeUid(u->value(), key);
  }

  Value decodeUid(std::uint64_t n, const std::string& key) {
    lastNodes = 1;
    if (n == 0) return Value();
    if (n >= objects.size())
      damaged("object reference " + std::to_string(n) + " for key (" + key + ") is out of range");
    auto cached = decoded.find(n);
    if (cached != decoded.end()) {
      checkAllowed(cached->second.className, {}, key);
      lastNodes = cached->second.nodes;
      return cached->second.value;
    }
    if (inProgress.count(n)) damaged("an array, dictionary or set contains itself (key " + key + ")");
    if (depth >= kKeyedArchiveMaxNesting) damaged("the archive is nested too deeply");
    const Value& raw = objects[n];
    std::vector<std::string> archiveChain;
    std::string className = classNameOf(raw, &archiveChain);
    checkAllowed(className, archiveChain, key);
    ++depth;
    struct DepthGuard {
      int& d;
      ~DepthGuard() { --d; }
    } guard{depth};

    if (!raw.isDictionary()) {
      decoded[n] = {raw, className};
      return raw;
    }
    inProgress.insert(n);
    std::uint64_t nodes = 1;
    Value result = decodeClass(n, raw, className, key, &nodes);
    inProgress.erase(n);
    decoded[n] = {result, className, nodes};
    lastNodes = nodes;
    return result;
  }

  // Adds the counts of the values referred to to `nodes`.
  std::vector<Value> references(const Value& raw, const char* field, const std::string& key,
                                std::uint64_t* nodes) {
    const Value& list = raw[field];
    if (list.isNil()) return {};
    if (!list.isArray()) damaged(std::string(field) + " of key (" + key + ") is not an array");
    std::vector<Value> out;
    out.reserve(list.count());
    for (const Value& ref : list.array()) {
      out.push_back(decodeReference(ref, key));
      *nodes += lastNodes;
      if (*nodes > nodeLimit) damaged("the archive uses its objects too many times (key " + key + ")");
    }
    return out;
  }

  Value decodeClass(std::uint64_t n, const Value& raw, const std::string& className, const std::string& key,
                    std::uint64_t* nodes) {
    if (className == "NSArray" || className == "NSMutableArray") {
      Array items;
      for (Value& v : references(raw, "NS.objects", key, nodes)) {
        if (v.isNil()) damaged("an array of key (" + key + ") holds nil");
        items.push_back(std::move(v));
      }
      return Value(std::move(items));
    }
    if (className == "NSSet" || className == "NSMutableSet" || className == "NSCountedSet") {
      Set items;
      for (Value& v : references(raw, "NS.objects", key, nodes)) {
        if (v.isNil()) damaged("a set of key (" + key + ") holds nil");
        items.add(v);
      }
      return Value(std::move(items));
    }
    if (className == "NSDictionary" || className == "NSMutableDictionary") {
      std::vector<Value> keys = references(raw, "NS.keys", key, nodes);
      std::vector<Value> values = references(raw, "NS.objects", key, nodes);
      if (keys.size() != values.size())
        damaged("a dictionary of key (" + key + ") has unequal keys and values");
      Dictionary d;
      for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].isNil() || values[i].isNil()) damaged("a dictionary of key (" + key + ") holds nil");
        d.set(keys[i], values[i]);
      }
      return Value(std::move(d));
    }
    if (className == "NSString" || className == "NSMutableString") {
      if (raw["NS.string"].isString()) return raw["NS.string"];
      if (raw["NS.bytes"].isData()) {
        // Text is UTF-8 everywhere else: bytes that are not would reach them as a broken string.
        std::string text = raw["NS.bytes"].data().toString();
        if (!str::isValidUtf8(text)) damaged("a string of key (" + key + ") is not UTF-8 text");
        return Value(std::move(text));
      }
      damaged("a string of key (" + key + ") has no text");
    }
    if (className == "NSData" || className == "NSMutableData") {
      if (raw["NS.data"].isData()) return raw["NS.data"];
      if (raw["NS.bytes"].isData()) return raw["NS.bytes"];
      if (raw["NS.data"].isNil() && raw["NS.bytes"].isNil()) return Value(Data());
      damaged("a data object of key (" + key + ") has no bytes");
    }
    if (className == "NSDate") {
      if (!raw["NS.time"].isNumber()) damaged("a date of key (" + key + ") has no time");
      return Value(Date::dateWithTimeIntervalSinceReferenceDate(raw["NS.time"].doubleValue()));
    }
    if (className == "NSNull") return Value::null();
    if (className == "NSError") {
      Value domain = raw["NSDomain"].isString() ? raw["NSDomain"] : decodeReference(raw["NSDomain"], key);
      Value info = raw["NSUserInfo"].isNil() ? Value() : decodeReference(raw["NSUserInfo"], key);
      if (!domain.isString()) damaged("an error of key (" + key + ") has no domain");
      Error e(domain.string(), raw["NSCode"].integerValue(),
              info.isDictionary() ? info.dictionary() : Dictionary());
      return Value(make<ErrorObject>(std::move(e)));
    }
    return decodeObject(n, raw, className, key);
  }

  Value decodeObject(std::uint64_t n, const Value& raw, const std::string& className,
                     const std::string& key) {
    auto info = CodingRegistry::find(className);
    if (!info || !info->make) {
      damaged("cannot decode object of class (" + className + ") for key (" + key +
              "); the class may be defined in source code or a library that is not linked");
    }
    if (owner->requiresSecureCoding() && !info->supportsSecureCoding) {
      Exception::raise(
          NSInvalidUnarchiveOperationException,
          "The data couldn’t be read because class '" + className + "' does not adopt NSSecureCoding.");
    }
    Ref<Object> object = info->make();
    if (!object) damaged("class (" + className + ") cannot be made");
    auto* coding = dynamic_cast<Coding*>(object.get());
    static const Sel initSel("initWithCoder:");
    if (!coding && !respondsToSelector(object.get(), initSel))
      damaged("class (" + className + ") cannot be decoded");
    // Known before its keys are read, so that references back to it (a cycle) find it.
    decoded[n] = {Value(object), className};
    inProgress.erase(n);
    const Dictionary* fields = &raw.dictionary();
    contexts.push_back(fields);
    struct ContextGuard {
      std::vector<const Dictionary*>& c;
      ~ContextGuard() { c.pop_back(); }
    } guard{contexts};
    if (coding) {
      coding->initWithCoder(*owner);
    } else {
      // The runtime form may answer another object, as an initialiser can.
      Ref<Object> result = send<Ref<Object>>(object.get(), initSel,
                                             std::static_pointer_cast<Object>(owner->shared_from_this()));
      if (result && result != object) {
        object = result;
        decoded[n] = {Value(object), className};
      }
    }
    return Value(object);
  }
};

KeyedUnarchiver::KeyedUnarchiver() : impl_(std::make_unique<Impl>()) {
  impl_->owner = this;
}

KeyedUnarchiver::~KeyedUnarchiver() = default;

Ref<KeyedUnarchiver> KeyedUnarchiver::initForReadingFromData_error(const Data& data, Error* error) {
  Error parseError(NSCocoaErrorDomain, 0);
  Value plist = PropertyListSerialization::propertyListWithData(data, &parseError);
  std::string why;
  if (!plist.isDictionary()) {
    why = "the data is not a property list dictionary";
  } else if (!plist["$archiver"].isString()) {
    why = "the archive has no $archiver";
  } else if (!plist["$version"].isNumber() || plist["$version"].integerValue() != 100000) {
    why = "the archive has an unknown $version";
  } else if (!plist["$objects"].isArray() || plist["$objects"].count() == 0) {
    why = "the archive has no $objects";
  } else if (!plist["$top"].isDictionary()) {
    why = "the archive has no $top";
  }
  if (!why.empty()) {
    setError(error, corruptError("*** incomprehensible archive: " + why));
    return nullptr;
  }
  auto unarchiver = make<KeyedUnarchiver>();
  unarchiver->impl_->objects = plist["$objects"].array();
  unarchiver->impl_->nodeLimit = std::max<std::uint64_t>(1u << 20, 16 * unarchiver->impl_->objects.size());
  unarchiver->impl_->top = plist["$top"].dictionary();
  unarchiver->impl_->contexts.push_back(&unarchiver->impl_->top);
  return unarchiver;
}

Value KeyedUnarchiver::unarchivedObjectOfClass_fromData_error(const std::string& className, const Data& data,
                                                              Error* error) {
  return unarchivedObjectOfClasses_fromData_error({className}, data, error);
}

Value KeyedUnarchiver::unarchivedObjectOfClasses_fromData_error(const std::vector<std::string>& classNames,
                                                                const Data& data, Error* error) {
  auto unarchiver = initForReadingFromData_error(data, error);
  if (!unarchiver) return Value();
  unarchiver->setRequiresSecureCoding(true);
  try {
    return unarchiver->decodeObjectOfClasses_forKey(classNames, NSKeyedArchiveRootObjectKey);
  } catch (const Exception& e) {
    if (e.name() != NSInvalidUnarchiveOperationException) throw;
    setError(error, corruptError(e.reason()));
    return Value();
  }
}

Value KeyedUnarchiver::unarchiveTopLevelObjectWithData_error(const Data& data, Error* error) {
  auto unarchiver = initForReadingFromData_error(data, error);
  if (!unarchiver) return Value();
  try {
    return unarchiver->decodeObjectForKey(NSKeyedArchiveRootObjectKey);
  } catch (const Exception& e) {
    if (e.name() != NSInvalidUnarchiveOperationException) throw;
    setError(error, corruptError(e.reason()));
    return Value();
  }
}

Value KeyedUnarchiver::unarchiveObjectWithData(const Data& data) {
  auto unarchiver = initForReadingFromData_error(data, nullptr);
  if (!unarchiver) return Value();
  try {
    return unarchiver->decodeObjectForKey(NSKeyedArchiveRootObjectKey);
  } catch (const ArchiveDamage&) {
    return Value();
  }
}

bool KeyedUnarchiver::containsValueForKey(const std::string& key) const {
  return impl_->raw(key) != nullptr;
}

Value KeyedUnarchiver::decodeObjectForKey(const std::string& key) {
  const Value* raw = impl_->raw(key);
  if (!raw) return Value();
  if (!PropertyListUID::from(*raw)) {
    // At the top the archiver writes only references: anything else is damage, not a class
    // disagreeing with what it finds.
    if (impl_->contexts.size() == 1) damaged("the top-level value for key (" + key + ") is not a reference");
    mismatch("decodeObjectForKey:", key, "an object");
  }
  return impl_->decodeReference(*raw, key);
}

Value KeyedUnarchiver::decodeObjectOfClass_forKey(const std::string& className, const std::string& key) {
  return decodeObjectOfClasses_forKey({className}, key);
}

Value KeyedUnarchiver::decodeObjectOfClasses_forKey(const std::vector<std::string>& classNames,
                                                    const std::string& key) {
  impl_->allowed.push_back(classNames);
  struct Pop {
    std::vector<std::vector<std::string>>& a;
    ~Pop() { a.pop_back(); }
  } pop{impl_->allowed};
  // Without secure coding the classes are not checked, as on the original platform.
  return decodeObjectForKey(key);
}

bool KeyedUnarchiver::decodeBoolForKey(const std::string& key) {
  const Value* raw = impl_->raw(key);
  if (!raw) return false;
  if (!raw->isNumber()) mismatch("decodeBoolForKey:", key, "a boolean");
  return raw->boolValue();
}

std::int64_t KeyedUnarchiver::decodeInt64ForKey(const std::string& key) {
  const Value* raw = impl_->raw(key);
  if (!raw) return 0;
  if (!raw->isNumber()) mismatch("decodeInt64ForKey:", key, "an integer number");
  return raw->longLongValue();
}

float KeyedUnarchiver::decodeFloatForKey(const std::string& key) {
  const Value* raw = impl_->raw(key);
  if (!raw) return 0;
  if (!raw->isNumber()) mismatch("decodeFloatForKey:", key, "a real number");
  return raw->floatValue();
}

double KeyedUnarchiver::decodeDoubleForKey(const std::string& key) {
  const Value* raw = impl_->raw(key);
  if (!raw) return 0;
  if (!raw->isNumber()) mismatch("decodeDoubleForKey:", key, "a real number");
  return raw->doubleValue();
}

Data KeyedUnarchiver::decodeBytesForKey(const std::string& key) {
  const Value* raw = impl_->raw(key);
  if (!raw) return Data();
  if (!raw->isData()) mismatch("decodeBytesForKey:", key, "data");
  return raw->data();
}

namespace {
[[noreturn]] void notAnEncoder(const char* method) {
  Exception::raise(NSInvalidArgumentException,
                   std::string("*** -[NSKeyedUnarchiver ") + method + "]: an unarchiver cannot encode");
}
}  // namespace

void KeyedUnarchiver::encodeObject_forKey(const Value&, const std::string&) {
  notAnEncoder("encodeObject:forKey:");
}
void KeyedUnarchiver::encodeBool_forKey(bool, const std::string&) {
  notAnEncoder("encodeBool:forKey:");
}
void KeyedUnarchiver::encodeInt64_forKey(std::int64_t, const std::string&) {
  notAnEncoder("encodeInt64:forKey:");
}
void KeyedUnarchiver::encodeFloat_forKey(float, const std::string&) {
  notAnEncoder("encodeFloat:forKey:");
}
void KeyedUnarchiver::encodeDouble_forKey(double, const std::string&) {
  notAnEncoder("encodeDouble:forKey:");
}
void KeyedUnarchiver::encodeBytes_length_forKey(const void*, std::size_t, const std::string&) {
  notAnEncoder("encodeBytes:length:forKey:");
}

}  // namespace ns
