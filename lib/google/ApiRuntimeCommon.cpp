#include "lib/google/ApiRuntimeCommon.h"

#include <mutex>
#include <shared_mutex>
#include <unordered_set>
#include <vector>

#include "lib/google/ApiDateTime.h"
#include "lib/google/ApiJSON.h"
#include "lib/google/ApiObject.h"
#include "lib/google/ApiUtilities.h"
#include "platform/core/NoDestructor.h"
#include "platform/runtime/Send.h"
#include "platform/runtime/Thunks.h"

namespace {

struct ClassSel {
  ns::Class cls;
  ns::Sel sel;
  friend bool operator==(const ClassSel&, const ClassSel&) = default;
};
struct ClassSelHash {
  std::size_t operator()(const ClassSel& k) const {
    return std::hash<const void*>()(k.cls) * 31 + std::hash<ns::Sel>()(k.sel);
  }
};

// The dispatch records and the selectors that name no property, for the life of the process.
struct DispatchTable {
  std::shared_mutex lock;
  std::unordered_map<ClassSel, std::unique_ptr<ApiDispatch>, ClassSelHash> records;
  // Resolution runs once per class and selector, one at a time.
  std::recursive_mutex resolving;
  std::unordered_set<ClassSel, ClassSelHash> unresolvable;
};

DispatchTable& table() {
  static ns::NoDestructor<DispatchTable> t;
  return *t;
}

const ApiDispatch* findRecord(ns::Class cls, ns::Sel sel) {
  DispatchTable& t = table();
  std::shared_lock guard(t.lock);
  for (ns::Class c = cls; c; c = ns::class_getSuperclass(c)) {
    auto it = t.records.find(ClassSel{c, sel});
    if (it != t.records.end()) return it->second.get();
  }
  return nullptr;
}

const ApiDispatch* storeRecord(ns::Class cls, ns::Sel sel, ApiPropertyRow row, ns::Class returnClass,
                               ns::Class containedClass, const std::string& jsonKey) {
  DispatchTable& t = table();
  std::unique_lock guard(t.lock);
  auto& slot = t.records[ClassSel{cls, sel}];
  if (!slot) {
    slot = std::make_unique<ApiDispatch>();
    slot->declaringClass = cls;
    slot->row = row;
    slot->returnClass = returnClass;
    slot->containedClass = containedClass;
    slot->jsonKey = jsonKey;
  }
  return slot.get();
}

// ",D" followed by the end of the string or a comma.
bool isDynamic(const std::string& attributes) {
  for (std::size_t p = attributes.find(",D"); p != std::string::npos; p = attributes.find(",D", p + 1)) {
    std::size_t after = p + 2;
    if (after == attributes.size() || attributes[after] == ',') return true;
  }
  return false;
}

std::optional<std::string> customGetter(const std::string& attributes) {
  for (std::size_t p = attributes.find(",G"); p != std::string::npos; p = attributes.find(",G", p + 1)) {
    std::size_t end = attributes.find(',', p + 2);
    return attributes.substr(p + 2, end == std::string::npos ? std::string::npos : end - p - 2);
  }
  return std::nullopt;
}

bool sameNameButFirstCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return false;
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return lower(a[0]) == lower(b[0]) && a.compare(1, std::string::npos, b, 1, std::string::npos) == 0;
}

struct Row {
  const char* prefix;
  ApiPropertyRow row;
};
const Row kRows[] = {
    {"Tq", ApiPropertyRow::Int64},
    {"TQ", ApiPropertyRow::UInt64},
    {"Tf", ApiPropertyRow::Float},
    {"Td", ApiPropertyRow::Double},
    {"Tc", ApiPropertyRow::Bool},
    {"T@\"NSString\"", ApiPropertyRow::String},
    {"T@\"NSNumber\"", ApiPropertyRow::Number},
    {"T@\"ApiDateTime\"", ApiPropertyRow::DateTime},
    {"T@\"NSArray\"", ApiPropertyRow::Array},
    {"T@,", ApiPropertyRow::Any},
    {"T@\"", ApiPropertyRow::Model},
};

ns::Class ancestorOf(ns::Class cls) {
  static const ns::Sel kAncestor("ancestorClass");
  if (!ns::class_getClassMethod(cls, kAncestor)) return nullptr;
  return ns::send<ns::Class>(static_cast<ns::Object*>(cls), kAncestor);
}

ns::Value mergedMap(ns::Class cls, const char* selector) {
  if (!ns::class_getClassMethod(cls, ns::Sel(selector))) return ns::Value();
  return ns::send<ns::Value>(static_cast<ns::Object*>(cls), ns::Sel(selector), cls);
}

ns::Class classNamed(const std::string& name) {
  return ns::NSClassFromString(name);
}
ns::Class dateTimeClass() {
  return ApiClassOf<ApiDateTime>();
}

bool isModelClass(ns::Class cls) {
  return cls && ns::class_isSubclassOfClass(cls, ApiObject::classObject());
}

ApiObject* modelObject(const ns::Value& v) {
  return v.isObject() ? dynamic_cast<ApiObject*>(v.object().get()) : nullptr;
}

// A child made from a member of its parent. The factory answers an empty dictionary with an
// object that has no JSON; a child read from its parent gets that very (empty) dictionary, so
// that what is set through the child shows in the parent instead of being lost.
ns::Ref<ApiObject> childOver(const ns::Value& dictionary, ns::Class cls, const ApiSurrogates& surrogates) {
  auto child = ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(dictionary, cls, surrogates,
                                                                              ns::Value());
  if (child && child->JSONValue().isNil()) {
    child->setSurrogates(surrogates);
    child->setJSON(dictionary);
  }
  return child;
}

// A member read through a property that names its class. Its "kind" may choose a subclass of
// that class, but not an unrelated one: a resource id carries the kind of the video, channel or
// playlist it names ("youtube#video"), and must still read as the resource id the property
// declares rather than as an object whose fields it does not have.
ns::Ref<ApiObject> declaredChildOver(const ns::Value& dictionary, ns::Class cls,
                                     const ApiSurrogates& surrogates) {
  ns::Ref<ApiObject> child = childOver(dictionary, cls, surrogates);
  if (!child || cls == ApiObject::classObject() || ns::class_isSubclassOfClass(child->runtimeClass(), cls)) {
    return child;
  }
  ns::Class made = cls;
  if (surrogates) {
    auto it = surrogates->find(cls);
    if (it != surrogates->end() && ns::class_isSubclassOfClass(it->second, cls)) made = it->second;
  }
  child = ApiObject::objectOfClass(made);
  child->setSurrogates(surrogates);
  child->setJSON(dictionary);
  return child;
}

// The record of an installed method. Another thread may call the method between its
// installation and the storing of its record; waiting for the resolution in progress finds it.
const ApiDispatch* recordOfInstalled(ns::Object* self, ns::Sel cmd) {
  ns::Class cls = ns::object_getClass(self);
  if (const ApiDispatch* d = findRecord(cls, cmd)) return d;
  ApiRuntimeCommon::resolveInstanceMethod_onClass(cmd, cls);
  return findRecord(cls, cmd);
}

// The installed implementations: one getter and one setter per row shape.
ns::Value dynamicGet(ns::Object* self, ns::Sel cmd) {
  auto* owner = dynamic_cast<ApiRuntimeCommon*>(self);
  const ApiDispatch* d = owner ? recordOfInstalled(self, cmd) : nullptr;
  return d ? ApiRuntimeCommon::getValue(*owner, d) : ns::Value();
}
void dynamicSet(ns::Object* self, ns::Sel cmd, const ns::Value& value) {
  auto* owner = dynamic_cast<ApiRuntimeCommon*>(self);
  const ApiDispatch* d = owner ? recordOfInstalled(self, cmd) : nullptr;
  if (d) ApiRuntimeCommon::setValue(*owner, d, value);
}

long long getInt64(ns::Object* self, ns::Sel cmd) {
  return dynamicGet(self, cmd).longLongValue();
}
unsigned long long getUInt64(ns::Object* self, ns::Sel cmd) {
  return dynamicGet(self, cmd).unsignedLongLongValue();
}
float getFloat(ns::Object* self, ns::Sel cmd) {
  return dynamicGet(self, cmd).floatValue();
}
double getDouble(ns::Object* self, ns::Sel cmd) {
  return dynamicGet(self, cmd).doubleValue();
}
ns::BOOL getBool(ns::Object* self, ns::Sel cmd) {
  return dynamicGet(self, cmd).boolValue() ? ns::YES : ns::NO;
}
ns::Value getObject(ns::Object* self, ns::Sel cmd) {
  return dynamicGet(self, cmd);
}
void setInt64(ns::Object* self, ns::Sel cmd, long long v) {
  dynamicSet(self, cmd, ns::Value(v));
}
void setUInt64(ns::Object* self, ns::Sel cmd, unsigned long long v) {
  dynamicSet(self, cmd, ns::Value(v));
}
void setFloat(ns::Object* self, ns::Sel cmd, float v) {
  dynamicSet(self, cmd, ns::Value(v));
}
void setDouble(ns::Object* self, ns::Sel cmd, double v) {
  dynamicSet(self, cmd, ns::Value(v));
}
void setBool(ns::Object* self, ns::Sel cmd, ns::BOOL v) {
  dynamicSet(self, cmd, ns::Value(v != 0));
}
void setObject(ns::Object* self, ns::Sel cmd, ns::Value v) {
  dynamicSet(self, cmd, v);
}

void install(ns::Class cls, ns::Sel sel, ApiPropertyRow row, bool setter) {
  switch (row) {
    case ApiPropertyRow::Int64:
      setter ? ns::class_addMethod(cls, sel, ns::imp<&setInt64>(), ns::impTypes<&setInt64>())
             : ns::class_addMethod(cls, sel, ns::imp<&getInt64>(), ns::impTypes<&getInt64>());
      break;
    case ApiPropertyRow::UInt64:
      setter ? ns::class_addMethod(cls, sel, ns::imp<&setUInt64>(), ns::impTypes<&setUInt64>())
             : ns::class_addMethod(cls, sel, ns::imp<&getUInt64>(), ns::impTypes<&getUInt64>());
      break;
    case ApiPropertyRow::Float:
      setter ? ns::class_addMethod(cls, sel, ns::imp<&setFloat>(), ns::impTypes<&setFloat>())
             : ns::class_addMethod(cls, sel, ns::imp<&getFloat>(), ns::impTypes<&getFloat>());
      break;
    case ApiPropertyRow::Double:
      setter ? ns::class_addMethod(cls, sel, ns::imp<&setDouble>(), ns::impTypes<&setDouble>())
             : ns::class_addMethod(cls, sel, ns::imp<&getDouble>(), ns::impTypes<&getDouble>());
      break;
    case ApiPropertyRow::Bool:
      setter ? ns::class_addMethod(cls, sel, ns::imp<&setBool>(), ns::impTypes<&setBool>())
             : ns::class_addMethod(cls, sel, ns::imp<&getBool>(), ns::impTypes<&getBool>());
      break;
    default:
      setter ? ns::class_addMethod(cls, sel, ns::imp<&setObject>(), ns::impTypes<&setObject>())
             : ns::class_addMethod(cls, sel, ns::imp<&getObject>(), ns::impTypes<&getObject>());
      break;
  }
}

bool resolveLocked(ns::Sel sel, ns::Class cls) {
  const std::string& selName = sel.name();
  bool setter = !selName.empty() && selName.back() == ':';
  if (setter && selName.size() < 5) return false;
  std::string name = setter ? selName.substr(3, selName.size() - 4) : selName;
  if (name.empty() || name.find(':') != std::string::npos) return false;

  ns::Class ancestor = ancestorOf(cls);
  if (!ancestor) return false;
  ns::Class stop = ns::class_getSuperclass(ancestor);
  if (cls == stop) return false;

  ns::Class declaring = nullptr;
  std::string propertyName, attributes;
  for (ns::Class c = cls; c && c != stop && !declaring; c = ns::class_getSuperclass(c)) {
    for (ns::Property p : ns::class_copyPropertyList(c)) {
      const std::string& attrs = p->attributes();
      if (!isDynamic(attrs)) continue;
      bool matches = sameNameButFirstCase(p->name(), name);
      if (!setter && !matches) {
        auto getter = customGetter(attrs);
        matches = getter && *getter == selName;
      }
      if (matches) {
        declaring = c;
        propertyName = p->name();
        attributes = attrs;
        break;
      }
    }
  }
  if (!declaring) return false;

  ApiPropertyRow row = ApiPropertyRow::None;
  for (const Row& r : kRows) {
    if (attributes.rfind(r.prefix, 0) == 0) {
      row = r.row;
      break;
    }
  }
  if (row == ApiPropertyRow::None) return false;
  ns::Class returnClass = nullptr;
  if (row == ApiPropertyRow::Model) {
    std::size_t end = attributes.find('"', 3);
    returnClass = classNamed(attributes.substr(3, end == std::string::npos ? std::string::npos : end - 3));
  } else if (row == ApiPropertyRow::DateTime) {
    returnClass = dateTimeClass();
  }

  install(declaring, sel, row, setter);

  ns::Value keyMap = mergedMap(declaring, "propertyToJSONKeyMapForClass:");
  const ns::Value& mapped = keyMap[ns::Value(propertyName)];
  std::string jsonKey = mapped.isString() ? mapped.string() : propertyName;
  ns::Class contained = nullptr;
  if (row == ApiPropertyRow::Array) {
    contained =
        ApiClassFromValue(mergedMap(declaring, "arrayPropertyToClassMapForClass:")[ns::Value(jsonKey)]);
  }
  storeRecord(declaring, sel, row, returnClass, contained, jsonKey);
  return true;
}

}  // namespace

ApiSurrogates ApiMakeSurrogates(std::initializer_list<std::pair<ns::Class, ns::Class>> entries) {
  auto map = std::make_shared<std::unordered_map<ns::Class, ns::Class>>();
  for (const auto& [from, to] : entries) (*map)[from] = to;
  return map;
}

bool ApiRuntimeCommon::resolveInstanceMethod_onClass(ns::Sel sel, ns::Class cls) {
  if (!sel || !cls) return false;
  if (findRecord(cls, sel)) {
    // Resolved for a superclass: the method is there already.
    return true;
  }
  DispatchTable& t = table();
  std::lock_guard guard(t.resolving);
  if (findRecord(cls, sel)) return true;
  {
    std::shared_lock read(t.lock);
    if (t.unresolvable.count(ClassSel{cls, sel})) return false;
  }
  bool resolved = resolveLocked(sel, cls);
  if (!resolved) {
    std::unique_lock write(t.lock);
    t.unresolvable.insert(ClassSel{cls, sel});
  }
  return resolved;
}

void ApiRuntimeCommon::setStoredDispatchForClass_selector_returnClass_containedClass_jsonKey(
    ns::Class cls, ns::Sel sel, ns::Class returnClass, ns::Class containedClass, const std::string& jsonKey) {
  storeRecord(cls, sel, ApiPropertyRow::None, returnClass, containedClass, jsonKey);
}

bool ApiRuntimeCommon::getStoredDispatchForClass_selector_returnClass_containedClass_jsonKey(
    ns::Class cls, ns::Sel sel, ns::Class* returnClass, ns::Class* containedClass, std::string* jsonKey) {
  const ApiDispatch* d = findRecord(cls, sel);
  if (!d) return false;
  if (returnClass) *returnClass = d->returnClass;
  if (containedClass) *containedClass = d->containedClass;
  if (jsonKey) *jsonKey = d->jsonKey;
  return true;
}

const ApiDispatch* ApiRuntimeCommon::dispatchForClass_selector(ns::Class cls, ns::Sel sel) {
  if (const ApiDispatch* d = findRecord(cls, sel)) return d;
  if (!resolveInstanceMethod_onClass(sel, cls)) return nullptr;
  return findRecord(cls, sel);
}

ns::Value ApiRuntimeCommon::objectFromJSON_defaultClass_surrogates_isCacheable(
    const ns::Value& json, ns::Class defaultClass, const ApiSurrogates& surrogates, bool* isCacheable) {
  bool cacheable = true;
  ns::Value result;
  if (ApiJSONIsDictionary(json) || json.isDictionary()) {
    ns::Value tree = json.isDictionary() ? ApiJSONMutableTree(json) : json;
    ns::Class cls = isModelClass(defaultClass) ? defaultClass : ApiObject::classObject();
    result = ns::Value(childOver(tree, cls, surrogates));
  } else if (auto array = ApiJSONArrayOf(json)) {
    ns::Array out;
    out.reserve(array->count());
    for (const ns::Value& element : array->items()) {
      ns::Value converted =
          objectFromJSON_defaultClass_surrogates_isCacheable(element, defaultClass, surrogates, nullptr);
      // Elements that convert to nothing keep their place.
      out.push_back(converted.isNil() ? element : converted);
    }
    result = ns::Value(std::move(out));
  } else if (json.isArray()) {
    return objectFromJSON_defaultClass_surrogates_isCacheable(ApiJSONMutableTree(json), defaultClass,
                                                              surrogates, isCacheable);
  } else if (json.isString()) {
    if (defaultClass && defaultClass == dateTimeClass()) {
      result = ns::Value(ApiDateTime::dateTimeWithRFC3339String(json.string()));
    } else {
      result = json;
      cacheable = false;
    }
  } else if (json.isNumber() || json.isNull()) {
    result = json;
    cacheable = false;
  }
  if (isCacheable) *isCacheable = cacheable;
  return result;
}

ns::Value ApiRuntimeCommon::jsonFromAPIObject_expectedClass_isCacheable(const ns::Value& object,
                                                                        ns::Class expectedClass,
                                                                        bool* isCacheable) {
  bool cacheable = true;
  ns::Value result;
  if (object.isString() || object.isNumber() || object.isNull()) {
    result = object;
    cacheable = false;
  } else if (ApiObject* model = modelObject(object)) {
    if (model->JSONValue().isNil()) model->setJSON(ns::Value(ApiJSONDictionary::dictionary()));
    result = model->JSONValue();
  } else if (auto date = object.objectAs<ApiDateTime>()) {
    result = ns::Value(date->stringValue());
  } else if (object.isArray() || ApiJSONIsArray(object)) {
    auto out = ns::make<ApiJSONArray>();
    auto add = [&](const ns::Value& element) {
      ns::Value converted = jsonFromAPIObject_expectedClass_isCacheable(element, expectedClass, nullptr);
      if (!converted.isNil()) out->addObject(converted);
    };
    if (object.isArray()) {
      for (const ns::Value& element : object.array()) add(element);
    } else {
      for (const ns::Value& element : ApiJSONArrayOf(object)->items()) add(element);
    }
    result = ns::Value(out);
  } else if (object.isDictionary() || ApiJSONIsDictionary(object)) {
    // A dictionary is JSON already: kept as a tree (shared when it is one) and read back
    // through the JSON, as it is not the object a getter would answer.
    result = object.isDictionary() ? ApiJSONMutableTree(object) : object;
    cacheable = false;
  }
  if (isCacheable) *isCacheable = cacheable;
  return result;
}

ns::Value ApiRuntimeCommon::getValue(ApiRuntimeCommon& owner, const ApiDispatch* d) {
  if (!d) return ns::Value();
  const std::string& key = d->jsonKey;
  switch (d->row) {
    case ApiPropertyRow::Int64:
      return ns::Value(ApiNumberFromJSONString(owner.JSONValueForKey(key)).longLongValue());
    case ApiPropertyRow::UInt64:
      return ns::Value(ApiNumberFromJSONString(owner.JSONValueForKey(key)).unsignedLongLongValue());
    case ApiPropertyRow::Float:
      return ns::Value(ApiNumberFromJSONString(owner.JSONValueForKey(key)).floatValue());
    case ApiPropertyRow::Double:
      return ns::Value(ApiNumberFromJSONString(owner.JSONValueForKey(key)).doubleValue());
    case ApiPropertyRow::Bool:
      return ns::Value(owner.JSONValueForKey(key).boolValue());
    case ApiPropertyRow::String:
      return owner.JSONValueForKey(key);
    case ApiPropertyRow::Number:
      return ApiNumberFromJSONString(owner.JSONValueForKey(key));
    case ApiPropertyRow::DateTime: {
      ns::Value cached = owner.cacheChildForKey(key);
      if (!cached.isNil()) return cached;
      ns::Value raw = owner.JSONValueForKey(key);
      if (raw.isNull()) {
        owner.setCacheChild_forKey(ns::Value(), key);
        return raw;
      }
      // Text parses (never fails); anything else is not a date-time.
      ns::Value parsed =
          raw.isString() ? ns::Value(ApiDateTime::dateTimeWithRFC3339String(raw.string())) : ns::Value();
      owner.setCacheChild_forKey(parsed, key);
      return parsed;
    }
    case ApiPropertyRow::Array: {
      ns::Value cached = owner.cacheChildForKey(key);
      if (!cached.isNil()) return cached;
      ns::Value raw = owner.JSONValueForKey(key);
      ns::Value result = ApiJSONIsArray(raw) ? objectFromJSON_defaultClass_surrogates_isCacheable(
                                                   raw, d->containedClass, owner.surrogates(), nullptr)
                                             : raw;
      owner.setCacheChild_forKey(result, key);
      return result;
    }
    case ApiPropertyRow::Any: {
      ns::Value cached = owner.cacheChildForKey(key);
      if (!cached.isNil()) return cached;
      ns::Value raw = owner.JSONValueForKey(key);
      if (raw.isNil()) return raw;
      bool cacheable = false;
      ns::Value result =
          objectFromJSON_defaultClass_surrogates_isCacheable(raw, nullptr, owner.surrogates(), &cacheable);
      if (cacheable) owner.setCacheChild_forKey(result, key);
      return result;
    }
    case ApiPropertyRow::Model: {
      ns::Value cached = owner.cacheChildForKey(key);
      if (!cached.isNil()) return cached;
      ns::Value raw = owner.JSONValueForKey(key);
      if (ApiJSONIsDictionary(raw)) {
        ns::Class cls = isModelClass(d->returnClass) ? d->returnClass : ApiObject::classObject();
        ns::Value child(declaredChildOver(raw, cls, owner.surrogates()));
        owner.setCacheChild_forKey(child, key);
        return child;
      }
      if (raw.isNull()) owner.setCacheChild_forKey(ns::Value(), key);
      return raw;
    }
    case ApiPropertyRow::None:
      break;
  }
  return ns::Value();
}

void ApiRuntimeCommon::setValue(ApiRuntimeCommon& owner, const ApiDispatch* d, const ns::Value& value) {
  if (!d) return;
  const std::string& key = d->jsonKey;
  switch (d->row) {
    case ApiPropertyRow::Int64:
      owner.setJSONValue_forKey(ns::Value(value.longLongValue()), key);
      return;
    case ApiPropertyRow::UInt64:
      owner.setJSONValue_forKey(ns::Value(value.unsignedLongLongValue()), key);
      return;
    case ApiPropertyRow::Float:
      owner.setJSONValue_forKey(ns::Value(value.floatValue()), key);
      return;
    case ApiPropertyRow::Double:
      owner.setJSONValue_forKey(ns::Value(value.doubleValue()), key);
      return;
    case ApiPropertyRow::Bool:
      owner.setJSONValue_forKey(ns::Value(value.boolValue()), key);
      return;
    case ApiPropertyRow::String:
    case ApiPropertyRow::Number:
      owner.setJSONValue_forKey(value, key);
      return;
    case ApiPropertyRow::DateTime: {
      if (value.isNull()) {
        owner.setJSONValue_forKey(ns::Value::null(), key);
        owner.setCacheChild_forKey(ns::Value(), key);
        return;
      }
      auto date = value.objectAs<ApiDateTime>();
      if (date) {
        // The cache keeps its own copy, so a later edit of the caller's value is not silently
        // shared with this object while its JSON keeps the old text.
        owner.setJSONValue_forKey(ns::Value(date->stringValue()), key);
        owner.setCacheChild_forKey(ns::Value(date->copy()), key);
      } else if (value.isString()) {
        owner.setJSONValue_forKey(value, key);
        owner.setCacheChild_forKey(ns::Value(), key);
      } else {
        owner.setJSONValue_forKey(ns::Value(), key);
        owner.setCacheChild_forKey(ns::Value(), key);
      }
      return;
    }
    case ApiPropertyRow::Array:
      owner.setJSONValue_forKey(
          jsonFromAPIObject_expectedClass_isCacheable(value, d->containedClass, nullptr), key);
      owner.setCacheChild_forKey(value.isArray() ? value : ns::Value(), key);
      return;
    case ApiPropertyRow::Any: {
      bool cacheable = false;
      owner.setJSONValue_forKey(jsonFromAPIObject_expectedClass_isCacheable(value, nullptr, &cacheable), key);
      owner.setCacheChild_forKey(cacheable ? value : ns::Value(), key);
      return;
    }
    case ApiPropertyRow::Model: {
      if (value.isNull()) {
        owner.setJSONValue_forKey(ns::Value::null(), key);
        owner.setCacheChild_forKey(ns::Value(), key);
        return;
      }
      if (modelObject(value)) {
        owner.setJSONValue_forKey(jsonFromAPIObject_expectedClass_isCacheable(value, d->returnClass, nullptr),
                                  key);
        owner.setCacheChild_forKey(value, key);
        return;
      }
      // Not a model object: stored as JSON where it has a JSON form, read back through it.
      owner.setJSONValue_forKey(jsonFromAPIObject_expectedClass_isCacheable(value, d->returnClass, nullptr),
                                key);
      owner.setCacheChild_forKey(ns::Value(), key);
      return;
    }
    case ApiPropertyRow::None:
      return;
  }
}
