#include "platform/serialization/KeyedArchiver.h"

#include <unordered_map>

#include "platform/core/Exception.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"
#include "platform/serialization/CodingRegistry.h"
#include "platform/serialization/PropertyListUID.h"

namespace ns {
namespace {

// Keys of the archive's own structure begin with "$"; callers' keys that do are escaped.
std::string escapeKey(const std::string& key) {
  return !key.empty() && key[0] == '$' ? "$" + key : key;
}

Value uid(std::uint64_t n) {
  return PropertyListUID::uid(n);
}

// The class name an object is archived under: its own choice, its runtime class, or its C++ name.
std::string archiveClassName(const Object& object, const Coding* coding) {
  if (coding) {
    std::string chosen = coding->classNameForKeyedArchiver();
    if (!chosen.empty()) return chosen;
  }
  Class cls = object_getClass(&object);
  if (cls && cls->cppType() && *cls->cppType() == typeid(object)) return cls->name();
  return object.className();
}

}  // namespace

struct KeyedArchiver::Impl {
  Array objects{Value("$null")};
  Dictionary top;
  std::vector<Dictionary*> contexts;  // the dictionary being filled: "$top" or an object's
  std::unordered_map<const Object*, std::uint64_t> objectUids;
  std::unordered_map<std::string, std::uint64_t> stringUids;
  std::unordered_map<std::string, std::uint64_t> classUids;
  bool finished = false;
  bool secure = true;
  int depth = 0;

  Dictionary& context() { return *contexts.back(); }

  std::uint64_t add(Value v) {
    objects.push_back(std::move(v));
    return objects.size() - 1;
  }

  std::uint64_t classUid(const std::string& name) {
    auto found = classUids.find(name);
    if (found != classUids.end()) return found->second;
    Array chain;
    for (const auto& c : CodingRegistry::hierarchy(name)) chain.push_back(Value(c));
    Dictionary entry;
    entry.set("$classname", name);
    entry.set("$classes", std::move(chain));
    std::uint64_t n = add(Value(std::move(entry)));
    classUids.emplace(name, n);
    return n;
  }

  std::uint64_t encode(const Value& v) {
    if (++depth > kKeyedArchiveMaxNesting) {
      --depth;
      Exception::raise(NSInvalidArchiveOperationException,
                       "*** the object graph is nested too deeply to archive");
    }
    std::uint64_t n = encodeValue(v);
    --depth;
    return n;
  }

  std::uint64_t encodeValue(const Value& v) {
    switch (v.kind()) {
      case Value::Kind::Nil:
        return 0;
      case Value::Kind::String: {
        auto found = stringUids.find(v.string());
        if (found != stringUids.end()) return found->second;
        std::uint64_t n = add(v);
        stringUids.emplace(v.string(), n);
        return n;
      }
      case Value::Kind::Number:
      case Value::Kind::Data:
        return add(v);
      case Value::Kind::Date: {
        Dictionary d;
        d.set("NS.time", v.date().timeIntervalSinceReferenceDate());
        d.set("$class", uid(classUid("NSDate")));
        return add(Value(std::move(d)));
      }
      case Value::Kind::Null: {
        Dictionary d;
        d.set("$class", uid(classUid("NSNull")));
        return add(Value(std::move(d)));
      }
      case Value::Kind::Array: {
        std::uint64_t n = add(Value());
        Array refs;
        for (const Value& item : v.array()) refs.push_back(uid(encode(item)));
        Dictionary d;
        d.set("NS.objects", std::move(refs));
        d.set("$class", uid(classUid("NSArray")));
        objects[n] = Value(std::move(d));
        return n;
      }
      case Value::Kind::Set: {
        std::uint64_t n = add(Value());
        Array refs;
        for (const Value& item : v.set()) refs.push_back(uid(encode(item)));
        Dictionary d;
        d.set("NS.objects", std::move(refs));
        d.set("$class", uid(classUid("NSSet")));
        objects[n] = Value(std::move(d));
        return n;
      }
      case Value::Kind::Dictionary: {
        std::uint64_t n = add(Value());
        Array keys, values;
        for (const auto& [key, item] : v.dictionary()) {
          keys.push_back(uid(encode(key)));
          values.push_back(uid(encode(item)));
        }
        Dictionary d;
        d.set("NS.keys", std::move(keys));
        d.set("NS.objects", std::move(values));
        d.set("$class", uid(classUid("NSDictionary")));
        objects[n] = Value(std::move(d));
        return n;
      }
      case Value::Kind::Object:
        return encodeObject(v.object());
    }
    return 0;
  }

  std::uint64_t encodeObject(const Ref<Object>& object) {
    auto found = objectUids.find(object.get());
    if (found != objectUids.end()) return found->second;
    if (auto* error = dynamic_cast<const ErrorObject*>(object.get())) {
      std::uint64_t n = add(Value());
      objectUids.emplace(object.get(), n);
      Dictionary d;
      d.set("NSDomain", uid(encode(Value(error->error().domain()))));
      d.set("NSCode", error->error().code());
      if (!error->error().userInfo().empty())
        d.set("NSUserInfo", uid(encode(Value(error->error().userInfo()))));
      d.set("$class", uid(classUid("NSError")));
      objects[n] = Value(std::move(d));
      return n;
    }
    auto* coding = dynamic_cast<const Coding*>(object.get());
    static const Sel encodeSel("encodeWithCoder:");
    if (!coding && !respondsToSelector(object.get(), encodeSel)) {
      Exception::raise(
          NSInvalidArgumentException,
          "-[" + object->className() + " encodeWithCoder:]: unrecognized selector sent to instance");
    }
    std::string name = archiveClassName(*object, coding);
    if (secure) {
      auto info = CodingRegistry::find(name);
      if (!info || !info->supportsSecureCoding) {
        Exception::raise(NSInvalidArchiveOperationException,
                         "This coder requires that classes conform to NSSecureCoding. Class '" + name +
                             "' does not adopt it.");
      }
    }
    // The slot is taken before the object's keys are encoded, so references back to it (a
    // cycle) find it.
    std::uint64_t n = add(Value());
    objectUids.emplace(object.get(), n);
    Dictionary fields;
    contexts.push_back(&fields);
    try {
      if (coding) {
        coding->encodeWithCoder(*owner);
      } else {
        send<void>(object.get(), encodeSel, std::static_pointer_cast<Object>(owner->shared_from_this()));
      }
    } catch (...) {
      contexts.pop_back();
      throw;
    }
    contexts.pop_back();
    fields.set("$class", uid(classUid(name)));
    objects[n] = Value(std::move(fields));
    return n;
  }

  KeyedArchiver* owner = nullptr;

  void checkOpen() const {
    if (finished)
      Exception::raise(NSInvalidArgumentException, "*** -[NSKeyedArchiver encode...]: archiver has finished");
  }
};

KeyedArchiver::KeyedArchiver(bool requiresSecureCoding)
    : impl_(std::make_unique<Impl>()), secure_(requiresSecureCoding) {
  impl_->secure = requiresSecureCoding;
  impl_->owner = this;
  impl_->contexts.push_back(&impl_->top);
}

KeyedArchiver::~KeyedArchiver() = default;

std::optional<Data> KeyedArchiver::archivedDataWithRootObject_requiringSecureCoding_error(
    const Value& root, bool requiresSecureCoding, Error* error) {
  try {
    auto archiver = make<KeyedArchiver>(requiresSecureCoding);
    archiver->encodeObject_forKey(root, NSKeyedArchiveRootObjectKey);
    return archiver->encodedData();
  } catch (const Exception& e) {
    Dictionary info;
    info.set("NSDebugDescription", e.reason());
    setError(error, Error(NSCocoaErrorDomain, NSCoderInvalidValueError, std::move(info)));
    return std::nullopt;
  }
}

Data KeyedArchiver::archivedDataWithRootObject(const Value& root) {
  auto archiver = make<KeyedArchiver>(false);
  archiver->encodeObject_forKey(root, NSKeyedArchiveRootObjectKey);
  return archiver->encodedData();
}

void KeyedArchiver::finishEncoding() {
  impl_->finished = true;
}

Data KeyedArchiver::encodedData() {
  impl_->finished = true;
  Dictionary archive;
  archive.set("$version", 100000);
  archive.set("$archiver", "NSKeyedArchiver");
  archive.set("$top", impl_->top);
  archive.set("$objects", impl_->objects);
  Error error(NSCocoaErrorDomain, 0);
  auto data = PropertyListSerialization::dataWithPropertyList_format_options_error(Value(std::move(archive)),
                                                                                   format_, 0, &error);
  if (!data) {
    // A value inside the graph that no property list can hold (a date beyond 2069, say).
    Exception::raise(
        NSInvalidArchiveOperationException,
        "*** the archive cannot be written: " + error.userInfo()["NSDebugDescription"].stringValue());
  }
  return *data;
}

void KeyedArchiver::encodeObject_forKey(const Value& object, const std::string& key) {
  impl_->checkOpen();
  std::uint64_t n = impl_->encode(object);
  impl_->context().set(Value(escapeKey(key)), uid(n));
}

void KeyedArchiver::encodeBool_forKey(bool value, const std::string& key) {
  impl_->checkOpen();
  impl_->context().set(Value(escapeKey(key)), value);
}

void KeyedArchiver::encodeInt64_forKey(std::int64_t value, const std::string& key) {
  impl_->checkOpen();
  impl_->context().set(Value(escapeKey(key)), static_cast<long long>(value));
}

void KeyedArchiver::encodeFloat_forKey(float value, const std::string& key) {
  impl_->checkOpen();
  impl_->context().set(Value(escapeKey(key)), value);
}

void KeyedArchiver::encodeDouble_forKey(double value, const std::string& key) {
  impl_->checkOpen();
  impl_->context().set(Value(escapeKey(key)), value);
}

void KeyedArchiver::encodeBytes_length_forKey(const void* bytes, std::size_t length, const std::string& key) {
  impl_->checkOpen();
  impl_->context().set(Value(escapeKey(key)), Data(bytes, length));
}

namespace {
[[noreturn]] void notADecoder(const char* method) {
  Exception::raise(NSInvalidArgumentException,
                   std::string("*** -[NSKeyedArchiver ") + method + "]: an archiver cannot decode");
}
}  // namespace

bool KeyedArchiver::containsValueForKey(const std::string&) const {
  notADecoder("containsValueForKey:");
}
Value KeyedArchiver::decodeObjectForKey(const std::string&) {
  notADecoder("decodeObjectForKey:");
}
Value KeyedArchiver::decodeObjectOfClass_forKey(const std::string&, const std::string&) {
  notADecoder("decodeObjectOfClass:forKey:");
}
Value KeyedArchiver::decodeObjectOfClasses_forKey(const std::vector<std::string>&, const std::string&) {
  notADecoder("decodeObjectOfClasses:forKey:");
}
bool KeyedArchiver::decodeBoolForKey(const std::string&) {
  notADecoder("decodeBoolForKey:");
}
std::int64_t KeyedArchiver::decodeInt64ForKey(const std::string&) {
  notADecoder("decodeInt64ForKey:");
}
float KeyedArchiver::decodeFloatForKey(const std::string&) {
  notADecoder("decodeFloatForKey:");
}
double KeyedArchiver::decodeDoubleForKey(const std::string&) {
  notADecoder("decodeDoubleForKey:");
}
Data KeyedArchiver::decodeBytesForKey(const std::string&) {
  notADecoder("decodeBytesForKey:");
}

}  // namespace ns
