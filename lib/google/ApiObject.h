#pragma once
// The Data API model objects. Every resource, list reply and nested part of a reply is a model
// object that keeps the JSON dictionary it was made from, by reference (a child made from a
// member of its parent holds that very member), and answers its declared dynamic properties by
// looking into it (ApiRuntimeCommon.h). The class of an object made from JSON is chosen by the
// dictionary's "kind" through the kind registry, which model classes fill in their load hook.
//
// Model objects are not locked: one object is used by one thread at a time.
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lib/google/ApiJSON.h"
#include "lib/google/ApiRuntimeCommon.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/runtime/ClassBuilder.h"

// A model object that builds its items right after it is made from JSON (batch results).
class ApiBatchItemCreationProtocol {
 public:
  virtual ~ApiBatchItemCreationProtocol() = default;
  virtual void createItemsWithClassMap(const ns::Value& batchClassMap) = 0;
};

class ApiObject : public ns::Object, public ApiRuntimeCommon {
 public:
  // Out of line, so that the many model classes do not each inline their members' set-up and
  // destruction.
  ApiObject();
  ~ApiObject() override;

  // The runtime class of ApiObject.
  static ns::Class classObject();

  // A new, empty object (no JSON).
  template <class T = ApiObject>
  static ns::Ref<T> object() {
    return ns::make<T>();
  }
  // A new object over the JSON (held by reference).
  template <class T = ApiObject>
  static ns::Ref<T> objectWithJSON(const ns::Value& json) {
    auto o = ns::make<T>();
    o->setJSON(json);
    return o;
  }
  // A new, empty object of a runtime class (ApiObject when the class makes no model objects).
  static ns::Ref<ApiObject> objectOfClass(ns::Class cls);

  // The kind registry: a later registration of the same kind replaces the earlier one.
  static void registerObjectClassForKind(ns::Class cls, const std::string& kind);
  static ns::Class registeredObjectClassForKind(const std::string& kind);

  // The factory of every reply and child: the JSON null or an empty container gives nothing,
  // or an empty object of the default class; a dictionary's registered "kind" chooses the
  // class, else the default class, else ApiObject; a surrogate replaces the chosen class. The
  // object holds the JSON by reference. A bare string or number gives nothing.
  static ns::Ref<ApiObject> objectForJSON_defaultClass_surrogates_batchClassMap(
      const ns::Value& json, ns::Class defaultClass, const ApiSurrogates& surrogates,
      const ns::Value& batchClassMap);

  // JSON access.
  ns::Value JSONValueForKey(std::string_view key) const override;
  void setJSONValue_forKey(ns::Value value, std::string_view key) override;
  ns::Value cacheChildForKey(std::string_view key) const override;
  void setCacheChild_forKey(ns::Value child, std::string_view key) override;
  ApiSurrogates surrogates() const override { return surrogates_; }
  void setSurrogates(ApiSurrogates surrogates) { surrogates_ = std::move(surrogates); }

  // The object's dictionary, or nullptr when it has none (or holds an array).
  ns::Ref<ApiJSONDictionary> JSON() const { return ApiJSONDictionaryOf(json_); }
  // The JSON as held: a tree dictionary or array reference, or nil.
  const ns::Value& JSONValue() const { return json_; }
  // Holds a tree dictionary or array by reference; a plain dictionary or array becomes a new
  // tree; nil clears.
  void setJSON(const ns::Value& json);
  void setJSON(const ns::Ref<ApiJSONDictionary>& json) { setJSON(ns::Value(json)); }
  // The JSON as human-readable text; the serialiser's error description when it cannot be
  // written; nullopt without JSON.
  std::optional<std::string> JSONString() const;

  // The application's own values, never part of the JSON; nil removes.
  void setProperty_forKey(ns::Value value, const std::string& key);
  ns::Value propertyForKey(const std::string& key) const;
  ns::Value userData() const { return propertyForKey("_userData"); }
  void setUserData(ns::Value value) { setProperty_forKey(std::move(value), "_userData"); }
  const ns::Dictionary& userProperties() const { return userProperties_; }
  void setUserProperties(ns::Dictionary properties) { userProperties_ = std::move(properties); }

  // The JSON null: storing it sends an explicit null (clears a field in an update).
  static ns::Value nullValue() { return ns::Value::null(); }

  // Schema. The merged maps of a class: its superclass's (empty at ApiObject) with its own
  // entries over them; computed once per class.
  static ns::Dictionary propertyToJSONKeyMapForClass(ns::Class cls);
  static ns::Dictionary arrayPropertyToClassMapForClass(ns::Class cls);
  static ns::Class classForAdditionalPropertiesOfClass(ns::Class cls);
  // Declared dynamic properties of the class and its superclasses up to ApiObject, subclass
  // first; and the same with JSON keys in place of mapped names.
  static std::vector<std::string> allDeclaredPropertiesOfClass(ns::Class cls);
  static std::vector<std::string> allKnownKeysOfClass(ns::Class cls);
  std::vector<std::string> allDeclaredProperties() const {
    return allDeclaredPropertiesOfClass(runtimeClass());
  }
  std::vector<std::string> allKnownKeys() const { return allKnownKeysOfClass(runtimeClass()); }
  // The JSON's keys that no declared property names; nullopt when none remain.
  std::optional<std::vector<std::string>> additionalJSONKeys() const;
  ns::Value additionalPropertyForName(const std::string& name);
  void setAdditionalProperty_forName(const ns::Value& value, const std::string& name);
  ns::Dictionary additionalProperties();

  // Comparison, copy, description.
  // Equal when either's class is the other's or a subclass of it, and the JSON is equal.
  bool isEqual(const ns::Object* other) const override;
  // The same for every model object, as equality does not follow the class.
  std::size_t hash() const override;
  // An object of the same class over a deep copy of the JSON, with the same surrogates.
  ns::Ref<ApiObject> copy() const;
  std::string className() const override;
  // "ClassName 0x...: {id:\"x\" snippet:{title,thumbnails} items:[3] extra?:5}".
  std::string description() const override;
  std::string descriptionWithLocale(const ns::Value&) const { return description(); }

  // The partial-response field selector of the JSON ("id,snippet/title,items(id)").
  std::string fieldsDescription() const;
  static std::string fieldsDescriptionForJSON(const ns::Value& dictionary);

  // The object that turns the original into this one; nullptr when nothing changed.
  ns::Ref<ApiObject> patchObjectFromOriginal(const ns::Ref<ApiObject>& original) const;
  // Removed keys appear as the JSON null; nested dictionaries are patched recursively.
  static ns::Ref<ApiJSONDictionary> patchDictionaryForJSON_fromOriginalJSON(const ns::Value& json,
                                                                            const ns::Value& original);

  ns::Class runtimeClass() const { return ns::object_getClass(this); }

 protected:
  ns::Value json_;

 private:
  ApiSurrogates surrogates_;
  ApiChildCache childCache_;
  ns::Dictionary userProperties_;
};

// A list reply: its items come from the "items" property its class declares.
class ApiCollectionObject : public ApiObject {
 public:
  ApiCollectionObject();
  ~ApiCollectionObject() override;

  // The items, through the class's "items" accessor; empty when it declares none.
  ns::Array collectionItems() const;
  // Nil when the index is not below the count.
  ns::Value itemAtIndex(std::size_t index) const;
  ns::Value objectAtIndexedSubscript(long index) const;
  // The first item with that "identifier"; the map is built on first use and kept until reset.
  ns::Value itemForIdentifier(const ns::Value& identifier);
  void resetIdentifierMap() { identifierMap_.reset(); }

 private:
  std::optional<std::unordered_map<ns::Value, ns::Value, ns::Value::Hasher>> identifierMap_;
};

// The items of a list reply that are of class T; none when the reply is no list.
template <class T>
std::vector<ns::Ref<T>> ApiCollectionItemsOf(const ns::Ref<ApiObject>& reply) {
  std::vector<ns::Ref<T>> items;
  auto list = std::dynamic_pointer_cast<ApiCollectionObject>(reply);
  if (!list) return items;
  for (const ns::Value& item : list->collectionItems())
    if (auto typed = item.objectAs<T>()) items.push_back(typed);
  return items;
}

// A reply whose JSON is a bare array.
class ApiResultArray : public ApiCollectionObject {
 public:
  // The elements as objects of the item class (or their "kind"), cached.
  ns::Value itemsWithItemClass(ns::Class itemClass);
};

// The schema of a model class, declared in its PL_CLASS body:
//   ApiModelSchema(cls).kind("youtube#video").propertyToJSONKeyMap({{"identifier", "id"}})
//       .arrayPropertyToClassMap({{"items", "ApiYouTubeVideo"}});
// The kind is registered in the class's load hook.
class ApiModelSchema {
 public:
  explicit ApiModelSchema(ns::Class cls) : cls_(cls) {}
  template <class C>
  explicit ApiModelSchema(ns::runtime::ClassBuilder<C>& builder) : cls_(builder.cls()) {}

  ApiModelSchema& kind(const std::string& kind);
  ApiModelSchema& propertyToJSONKeyMap(const ns::Dictionary& map);
  // JSON key -> element class name.
  ApiModelSchema& arrayPropertyToClassMap(const ns::Dictionary& map);
  ApiModelSchema& classForAdditionalProperties(const std::string& className);

 private:
  ns::Class cls_;
};
