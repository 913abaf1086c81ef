#include "lib/google/ApiObject.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <unordered_set>

#include "lib/google/ApiDateTime.h"
#include "lib/google/ApiJSONParser.h"
#include "lib/google/ApiUtilities.h"
#include "platform/core/NoDestructor.h"
#include "platform/core/Str.h"
#include "platform/runtime/KeyValueCoding.h"
#include "platform/runtime/Send.h"

namespace {

// Process-wide state shared by every model class; never destroyed, as parse queues may still
// read it while the process exits.
struct ModelRegistry {
  std::shared_mutex lock;
  std::unordered_map<std::string, ns::Class> kinds;
  // Each class's own schema, as ApiModelSchema declared it.
  std::unordered_map<ns::Class, ns::Dictionary> ownKeyMaps;
  std::unordered_map<ns::Class, ns::Dictionary> ownArrayMaps;
  std::unordered_map<ns::Class, std::string> additionalClasses;
  ApiClassDictionaryCache* keyMapCache = ApiUtilities::newStaticDictionary();
  ApiClassDictionaryCache* arrayMapCache = ApiUtilities::newStaticDictionary();
};

ModelRegistry& registry() {
  static ns::NoDestructor<ModelRegistry> r;
  return *r;
}

// The class methods every model class answers.
ns::Value ownKeyMapImpl(ns::Class self, ns::Sel) {
  auto& r = registry();
  std::shared_lock guard(r.lock);
  auto it = r.ownKeyMaps.find(self);
  return it == r.ownKeyMaps.end() ? ns::Value() : ns::Value(it->second);
}

ns::Value ownArrayMapImpl(ns::Class self, ns::Sel) {
  auto& r = registry();
  std::shared_lock guard(r.lock);
  auto it = r.ownArrayMaps.find(self);
  return it == r.ownArrayMaps.end() ? ns::Value() : ns::Value(it->second);
}

// Inherited as a class method is: the nearest class that declares one.
ns::Class additionalClassImpl(ns::Class self, ns::Sel) {
  auto& r = registry();
  std::string name;
  {
    std::shared_lock guard(r.lock);
    for (ns::Class c = self; c; c = ns::class_getSuperclass(c)) {
      auto it = r.additionalClasses.find(c);
      if (it != r.additionalClasses.end()) {
        name = it->second;
        break;
      }
    }
  }
  return name.empty() ? nullptr : ns::NSClassFromString(name);
}

ns::Class ancestorImpl(ns::Class, ns::Sel) {
  return ApiObject::classObject();
}

ns::Value keyMapForClassImpl(ns::Class, ns::Sel, ns::Class cls) {
  return ns::Value(ApiObject::propertyToJSONKeyMapForClass(cls));
}
ns::Value arrayMapForClassImpl(ns::Class, ns::Sel, ns::Class cls) {
  return ns::Value(ApiObject::arrayPropertyToClassMapForClass(cls));
}

ns::BOOL resolveImpl(ns::Class self, ns::Sel, ns::Sel sel) {
  return ApiRuntimeCommon::resolveInstanceMethod_onClass(sel, self) ? ns::YES : ns::NO;
}

std::string addressText(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

std::vector<std::pair<std::string, ns::Value>> sortedEntries(const ApiJSONDictionary& d) {
  std::vector<std::pair<std::string, ns::Value>> entries(d.entries().begin(), d.entries().end());
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return ns::str::caseInsensitiveCompare(a.first, b.first) == ns::OrderedAscending;
  });
  return entries;
}

std::vector<std::string> fieldElements(const ns::Value& json) {
  std::vector<std::string> out;
  auto d = ApiJSONDictionaryOf(json);
  if (!d) return out;
  for (const auto& [key, value] : sortedEntries(*d)) {
    if (value.isString() || value.isNumber()) {
      out.push_back(key);
    } else if (ApiJSONIsDictionary(value)) {
      for (const std::string& element : fieldElements(value)) out.push_back(key + "/" + element);
    } else if (auto array = ApiJSONArrayOf(value)) {
      if (array->empty()) continue;
      ns::Value first = array->objectAtIndex(0);
      if (ApiJSONIsDictionary(first)) {
        out.push_back(key + "(" + ns::str::join(fieldElements(first), ",") + ")");
      } else {
        out.push_back(key);
      }
    }
  }
  return out;
}

ns::Value treeOf(const ns::Value& json) {
  if (json.isDictionary() || json.isArray()) return ApiJSONMutableTree(json);
  return json;
}

}  // namespace

PL_CLASS(ApiObject, ns::Object) {
  cls.classMethod<&resolveImpl>("resolveInstanceMethod:");
  cls.classMethod<&ownKeyMapImpl>("propertyToJSONKeyMap");
  cls.classMethod<&ownArrayMapImpl>("arrayPropertyToClassMap");
  cls.classMethod<&additionalClassImpl>("classForAdditionalProperties");
  cls.classMethod<&ancestorImpl>("ancestorClass");
  cls.classMethod<&keyMapForClassImpl>("propertyToJSONKeyMapForClass:");
  cls.classMethod<&arrayMapForClassImpl>("arrayPropertyToClassMapForClass:");
  cls.protocol("ApiRuntimeCommon");
}
PL_CLASS(ApiCollectionObject, ApiObject) {
  cls.protocol("ApiCollectionProtocol");
}
PL_CLASS(ApiResultArray, ApiCollectionObject) {}
PL_CLASS(ApiDateTime, ns::Object) {}

ApiObject::ApiObject() = default;
ApiObject::~ApiObject() = default;
ApiCollectionObject::ApiCollectionObject() = default;
ApiCollectionObject::~ApiCollectionObject() = default;

ns::Class ApiObject::classObject() {
  static std::atomic<ns::Class> cls{nullptr};
  ns::Class c = cls.load(std::memory_order_acquire);
  if (!c) {
    c = ApiClassOf<ApiObject>();
    cls.store(c, std::memory_order_release);
  }
  return c;
}

ns::Ref<ApiObject> ApiObject::objectOfClass(ns::Class cls) {
  if (cls && ns::class_isSubclassOfClass(cls, classObject())) {
    if (auto made = std::dynamic_pointer_cast<ApiObject>(ns::class_createInstance(cls))) return made;
  }
  return ns::make<ApiObject>();
}

void ApiObject::registerObjectClassForKind(ns::Class cls, const std::string& kind) {
  if (!cls) return;
  auto& r = registry();
  std::unique_lock guard(r.lock);
  r.kinds[kind] = cls;
}

ns::Class ApiObject::registeredObjectClassForKind(const std::string& kind) {
  auto& r = registry();
  std::shared_lock guard(r.lock);
  auto it = r.kinds.find(kind);
  return it == r.kinds.end() ? nullptr : it->second;
}

ns::Ref<ApiObject> ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(
    const ns::Value& json, ns::Class defaultClass, const ApiSurrogates& surrogates,
    const ns::Value& batchClassMap) {
  ns::Value tree = treeOf(json);
  auto dictionary = ApiJSONDictionaryOf(tree);
  bool container = dictionary || ApiJSONIsArray(tree);
  if (tree.isNull() || (container && ApiJSONCount(tree) == 0)) {
    if (tree.isNil() || !defaultClass) return nullptr;
    return objectOfClass(defaultClass);
  }
  // A bare string or number is not an object.
  if (!container) return nullptr;

  ns::Class cls = nullptr;
  if (dictionary) {
    const ns::Value* kind = dictionary->find("kind");
    if (kind && kind->isString() && !kind->string().empty())
      cls = registeredObjectClassForKind(kind->string());
  }
  if (!cls) cls = defaultClass;
  if (!cls) cls = classObject();
  if (surrogates) {
    auto it = surrogates->find(cls);
    // A surrogate must be a subclass of what it replaces, so that callers can rely on the type.
    if (it != surrogates->end() && ns::class_isSubclassOfClass(it->second, cls)) cls = it->second;
  }
  ns::Ref<ApiObject> object = objectOfClass(cls);
  object->setSurrogates(surrogates);
  object->setJSON(tree);
  if (auto* batch = dynamic_cast<ApiBatchItemCreationProtocol*>(object.get()))
    batch->createItemsWithClassMap(batchClassMap);
  return object;
}

// JSON access.

ns::Value ApiObject::JSONValueForKey(std::string_view key) const {
  if (auto* d = dynamic_cast<const ApiJSONDictionary*>(json_.isObject() ? json_.object().get() : nullptr)) {
    return d->objectForKey(key);
  }
  return ns::Value();
}

void ApiObject::setJSONValue_forKey(ns::Value value, std::string_view key) {
  auto d = ApiJSONDictionaryOf(json_);
  if (!d) {
    // An array holds no keys; an object without JSON gets a dictionary for its first value.
    if (!json_.isNil() || value.isNil()) return;
    d = ns::make<ApiJSONDictionary>(1);
    json_ = ns::Value(d);
  }
  d->setObject_forKey(std::move(value), key);
}

ns::Value ApiObject::cacheChildForKey(std::string_view key) const {
  return childCache_.childForKey(key);
}

void ApiObject::setCacheChild_forKey(ns::Value child, std::string_view key) {
  childCache_.setChild_forKey(std::move(child), key);
}

void ApiObject::setJSON(const ns::Value& json) {
  if (ApiJSONIsDictionary(json) || ApiJSONIsArray(json) || json.isNil()) {
    json_ = json;
  } else if (json.isDictionary() || json.isArray()) {
    json_ = ApiJSONMutableTree(json);
  }
}

std::optional<std::string> ApiObject::JSONString() const {
  if (json_.isNil()) return std::nullopt;
  ns::Error error;
  auto text = ApiJSONParser::stringWithObject_humanReadable_error(json_, true, &error);
  if (!text) return error.description();
  return text;
}

void ApiObject::setProperty_forKey(ns::Value value, const std::string& key) {
  userProperties_.set(ns::Value(key), std::move(value));
}

ns::Value ApiObject::propertyForKey(const std::string& key) const {
  return userProperties_[ns::Value(key)];
}

// Schema.

ns::Dictionary ApiObject::propertyToJSONKeyMapForClass(ns::Class cls) {
  return ApiUtilities::mergedClassDictionaryForSelector_startClass_ancestorClass_cache(
      "propertyToJSONKeyMap", cls, classObject(), registry().keyMapCache);
}

ns::Dictionary ApiObject::arrayPropertyToClassMapForClass(ns::Class cls) {
  return ApiUtilities::mergedClassDictionaryForSelector_startClass_ancestorClass_cache(
      "arrayPropertyToClassMap", cls, classObject(), registry().arrayMapCache);
}

ns::Class ApiObject::classForAdditionalPropertiesOfClass(ns::Class cls) {
  if (!cls) return nullptr;
  return ns::send<ns::Class>(static_cast<ns::Object*>(cls), "classForAdditionalProperties");
}

std::vector<std::string> ApiObject::allDeclaredPropertiesOfClass(ns::Class cls) {
  std::vector<std::string> names;
  ns::Class stop = ns::class_getSuperclass(classObject());
  for (ns::Class c = cls; c && c != stop; c = ns::class_getSuperclass(c)) {
    for (ns::Property p : ns::class_copyPropertyList(c)) {
      const std::string& attrs = p->attributes();
      bool dynamic = false;
      for (std::size_t pos = attrs.find(",D"); pos != std::string::npos && !dynamic;
           pos = attrs.find(",D", pos + 1)) {
        dynamic = pos + 2 == attrs.size() || attrs[pos + 2] == ',';
      }
      if (dynamic) names.push_back(p->name());
    }
  }
  return names;
}

std::vector<std::string> ApiObject::allKnownKeysOfClass(ns::Class cls) {
  ns::Dictionary map = propertyToJSONKeyMapForClass(cls);
  std::vector<std::string> keys;
  for (const std::string& name : allDeclaredPropertiesOfClass(cls)) {
    const ns::Value& mapped = map[ns::Value(name)];
    keys.push_back(mapped.isString() ? mapped.string() : name);
  }
  return keys;
}

std::optional<std::vector<std::string>> ApiObject::additionalJSONKeys() const {
  auto d = JSON();
  if (!d) return std::nullopt;
  std::vector<std::string> known = allKnownKeys();
  std::unordered_set<std::string> knownSet(known.begin(), known.end());
  std::vector<std::string> extra;
  for (const auto& [key, value] : d->entries()) {
    if (!knownSet.count(key)) extra.push_back(key);
  }
  if (extra.empty()) return std::nullopt;
  return extra;
}

ns::Value ApiObject::additionalPropertyForName(const std::string& name) {
  ns::Value cached = cacheChildForKey(name);
  if (!cached.isNil()) return cached;
  ns::Value raw = JSONValueForKey(name);
  if (raw.isNil()) {
    setCacheChild_forKey(ns::Value(), name);
    return raw;
  }
  bool cacheable = false;
  ns::Value result = objectFromJSON_defaultClass_surrogates_isCacheable(
      raw, classForAdditionalPropertiesOfClass(runtimeClass()), surrogates_, &cacheable);
  setCacheChild_forKey(cacheable ? result : ns::Value(), name);
  return result;
}

void ApiObject::setAdditionalProperty_forName(const ns::Value& value, const std::string& name) {
  bool cacheable = false;
  ns::Value json = jsonFromAPIObject_expectedClass_isCacheable(
      value, classForAdditionalPropertiesOfClass(runtimeClass()), &cacheable);
  setJSONValue_forKey(json, name);
  setCacheChild_forKey(cacheable ? value : ns::Value(), name);
}

ns::Dictionary ApiObject::additionalProperties() {
  ns::Dictionary out;
  if (auto keys = additionalJSONKeys()) {
    for (const std::string& key : *keys) out.set(ns::Value(key), additionalPropertyForName(key));
  }
  return out;
}

// Comparison, copy, description.

bool ApiObject::isEqual(const ns::Object* other) const {
  if (other == this) return true;
  auto* o = dynamic_cast<const ApiObject*>(other);
  if (!o) return false;
  ns::Class mine = runtimeClass(), theirs = o->runtimeClass();
  if (!ns::class_isSubclassOfClass(mine, theirs) && !ns::class_isSubclassOfClass(theirs, mine)) return false;
  if (json_.isNil() || o->json_.isNil()) return json_.isNil() && o->json_.isNil();
  return ApiJSONValuesEqual(json_, o->json_);
}

std::size_t ApiObject::hash() const {
  return reinterpret_cast<std::size_t>(classObject());
}

ns::Ref<ApiObject> ApiObject::copy() const {
  ns::Ref<ApiObject> out = objectOfClass(runtimeClass());
  out->json_ = ApiJSONDeepCopy(json_);
  out->surrogates_ = surrogates_;
  return out;
}

std::string ApiObject::className() const {
  ns::Class cls = runtimeClass();
  return cls ? cls->name() : std::string("ApiObject");
}

std::string ApiObject::description() const {
  std::string body;
  if (auto d = JSON()) {
    std::vector<std::string> known = allKnownKeys();
    std::unordered_set<std::string> knownSet(known.begin(), known.end());
    bool first = true;
    for (const auto& [key, value] : d->entries()) {
      std::string shown;
      if (auto child = ApiJSONDictionaryOf(value)) {
        shown = "{" + ns::str::join(child->allKeys(), ",") + "}";
      } else if (value.isObject() && ApiJSONIsArray(value)) {
        shown = "[" + std::to_string(ApiJSONCount(value)) + "]";
      } else if (value.isString()) {
        shown = "\"" + value.string() + "\"";
      } else {
        shown = value.description();
      }
      body += (first ? "" : " ") + key + (knownSet.count(key) ? "" : "?") + ":" + shown;
      first = false;
    }
  } else if (ApiJSONIsArray(json_)) {
    body = "[" + std::to_string(ApiJSONCount(json_)) + "]";
  }
  return className() + " " + addressText(this) + ": {" + body + "}";
}

std::string ApiObject::fieldsDescription() const {
  return fieldsDescriptionForJSON(json_);
}

std::string ApiObject::fieldsDescriptionForJSON(const ns::Value& dictionary) {
  return ns::str::join(fieldElements(treeOf(dictionary)), ",");
}

ns::Ref<ApiJSONDictionary> ApiObject::patchDictionaryForJSON_fromOriginalJSON(const ns::Value& json,
                                                                              const ns::Value& original) {
  auto patch = ApiJSONDictionary::dictionary();
  auto now = ApiJSONDictionaryOf(treeOf(json));
  auto before = ApiJSONDictionaryOf(treeOf(original));
  if (!now) now = ApiJSONDictionary::dictionary();
  if (!before) before = ApiJSONDictionary::dictionary();
  for (const auto& [key, old] : before->entries()) {
    const ns::Value* current = now->find(key);
    if (!current) {
      patch->setObject_forKey(ns::Value::null(), key);
    } else if (ApiJSONValuesEqual(*current, old)) {
      continue;
    } else if (ApiJSONIsDictionary(*current) && ApiJSONIsDictionary(old)) {
      patch->setObject_forKey(ns::Value(patchDictionaryForJSON_fromOriginalJSON(*current, old)), key);
    } else {
      patch->setObject_forKey(*current, key);
    }
  }
  for (const auto& [key, value] : now->entries()) {
    if (!before->find(key)) patch->setObject_forKey(value, key);
  }
  return patch;
}

ns::Ref<ApiObject> ApiObject::patchObjectFromOriginal(const ns::Ref<ApiObject>& original) const {
  auto patch = patchDictionaryForJSON_fromOriginalJSON(json_, original ? original->json_ : ns::Value());
  if (patch->empty()) return nullptr;
  ns::Ref<ApiObject> out = objectOfClass(runtimeClass());
  out->setJSON(ns::Value(patch));
  return out;
}

// Collections.

ns::Array ApiCollectionObject::collectionItems() const {
  static const ns::Sel kItems("items");
  if (!ns::respondsToSelector(this, kItems)) return {};
  ns::Value items = ns::send<ns::Value>(this, kItems);
  return items.isArray() ? items.array() : ns::Array();
}

ns::Value ApiCollectionObject::itemAtIndex(std::size_t index) const {
  ns::Array items = collectionItems();
  return index < items.size() ? items[index] : ns::Value();
}

ns::Value ApiCollectionObject::objectAtIndexedSubscript(long index) const {
  if (index < 0) return ns::Value();
  return itemAtIndex(static_cast<std::size_t>(index));
}

ns::Value ApiCollectionObject::itemForIdentifier(const ns::Value& identifier) {
  if (!identifierMap_) {
    std::unordered_map<ns::Value, ns::Value, ns::Value::Hasher> map;
    static const ns::Sel kIdentifier("identifier");
    for (const ns::Value& item : collectionItems()) {
      if (!item.isObject() || !ns::respondsToSelector(item.object().get(), kIdentifier)) continue;
      ns::Value id = ns::valueForKey(item.object().get(), "identifier");
      if (id.isNilOrNull()) continue;
      map.emplace(id, item);  // the first item with an identifier wins
    }
    identifierMap_ = std::move(map);
  }
  auto it = identifierMap_->find(identifier);
  return it == identifierMap_->end() ? ns::Value() : it->second;
}

ns::Value ApiResultArray::itemsWithItemClass(ns::Class itemClass) {
  static const char kKey[] = "result_array_items";
  ns::Value cached = cacheChildForKey(kKey);
  if (!cached.isNil()) return cached;
  ns::Value result = ApiJSONIsArray(json_) ? objectFromJSON_defaultClass_surrogates_isCacheable(
                                                 json_, itemClass, surrogates(), nullptr)
                                           : json_;
  setCacheChild_forKey(result, kKey);
  return result;
}

// Schema declarations.

ApiModelSchema& ApiModelSchema::kind(const std::string& kind) {
  ns::Class cls = cls_;
  ns::runtime::setClassHooks(
      cls, [cls, kind] { ApiObject::registerObjectClassForKind(cls, kind); }, nullptr);
  return *this;
}

ApiModelSchema& ApiModelSchema::propertyToJSONKeyMap(const ns::Dictionary& map) {
  auto& r = registry();
  std::unique_lock guard(r.lock);
  r.ownKeyMaps[cls_] = map;
  return *this;
}

ApiModelSchema& ApiModelSchema::arrayPropertyToClassMap(const ns::Dictionary& map) {
  auto& r = registry();
  std::unique_lock guard(r.lock);
  r.ownArrayMaps[cls_] = map;
  return *this;
}

ApiModelSchema& ApiModelSchema::classForAdditionalProperties(const std::string& className) {
  auto& r = registry();
  std::unique_lock guard(r.lock);
  r.additionalClasses[cls_] = className;
  return *this;
}
