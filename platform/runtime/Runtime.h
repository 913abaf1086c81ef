#pragma once
// The object runtime: class records with method tables, declared properties and protocols, for
// the classes that register themselves (see ClassBuilder.h). The functions keep the platform's
// names. Objects stay owned by Ref/Weak; the runtime adds no reference count of its own.
//
// Method exchange and replacement affect every call made through the runtime (ns::send,
// invocations, target/action). Direct C++ calls are bound at compile time and never see them.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/core/Object.h"
#include "platform/runtime/Sel.h"
#include "platform/runtime/TypeCodec.h"

namespace ns {

// A method implementation: a function with the canonical C signature of its type encoding.
struct Imp {
  void (*fn)() = nullptr;
  // The exact C++ function type of `fn` when it was generated from C++ (else null: such an
  // implementation is only ever called through libffi, by its encoding).
  const std::type_info* canon = nullptr;
  // The normalized encoding `fn` implements ("v@:@"), interned.
  const std::string* types = nullptr;

  explicit operator bool() const { return fn != nullptr; }
  friend bool operator==(const Imp& a, const Imp& b) { return a.fn == b.fn; }
  friend bool operator!=(const Imp& a, const Imp& b) { return a.fn != b.fn; }
};

class MethodRecord {
 public:
  MethodRecord(Sel sel, std::string types, Imp imp);
  Sel name() const { return sel_; }
  const std::string& types() const { return types_; }
  const std::string& normalizedTypes() const { return normalized_; }

 public:  // internals of the runtime; everyone else uses the functions below
  friend struct RuntimeAccess;
  Sel sel_;
  std::string types_;
  std::string normalized_;
  Imp imp_;  // guarded by the runtime lock
};
using Method = MethodRecord*;

struct MethodDescription {
  Sel name;           // null when there is no such method
  std::string types;  // the encoding, offsets included
};

class PropertyRecord {
 public:
  PropertyRecord(std::string name, std::string attributes);
  const std::string& name() const { return name_; }
  const std::string& attributes() const { return attributes_; }
  // The value of one attribute ("T", "V", "G"...); "" for a flag; nullopt when absent.
  std::optional<std::string> attribute(std::string_view key) const;

 private:
  std::string name_;
  std::string attributes_;
  std::vector<std::pair<std::string, std::string>> parsed_;
};
using Property = const PropertyRecord*;

class Protocol : public Object {
 public:
  explicit Protocol(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }
  std::string className() const override { return "Protocol"; }
  std::string description() const override;

  // Building (at registration).
  void addProtocol(Protocol* adopted) { adopted_.push_back(adopted); }
  void addMethodDescription(Sel sel, std::string types, bool isRequired, bool isInstance);

 public:  // internals of the runtime; everyone else uses the functions below
  friend struct RuntimeAccess;
  std::string name_;
  std::vector<Protocol*> adopted_;
  std::vector<MethodDescription> methods_[4];  // [required][instance]
};

class ClassRecord : public Object {
 public:
  ClassRecord(std::string name, const std::type_info* cppType);
  const std::string& name() const { return name_; }
  ClassRecord* superclass() const { return super_; }
  const std::type_info* cppType() const { return cppType_; }
  std::string className() const override { return name_; }
  std::string description() const override { return name_; }

 public:  // internals of the runtime; everyone else uses the functions below
  friend struct RuntimeAccess;
  std::string name_;
  const std::type_info* cppType_;
  ClassRecord* super_ = nullptr;
  int depth_ = 0;
  std::function<Ref<Object>()> factory_;
  std::function<bool(const Object*)> isInstance_;
  std::unordered_map<Sel, std::unique_ptr<MethodRecord>> instanceMethods_;
  std::unordered_map<Sel, std::unique_ptr<MethodRecord>> classMethods_;
  std::vector<std::unique_ptr<PropertyRecord>> properties_;
  std::vector<Protocol*> protocols_;
  std::function<void()> initialize_;
  std::vector<std::function<void()>> loads_;
  std::atomic<bool> initialized_{false};
  bool initializing_ = false;
  std::recursive_mutex initializeLock_;
};

// Classes.
Class NSClassFromString(std::string_view name);
Class objc_getClass(std::string_view name);
std::string NSStringFromClass(Class cls);
const char* class_getName(Class cls);
Class class_getSuperclass(Class cls);
// The class of an object: the record of its dynamic C++ type, or of the nearest registered base.
// For a class object, the class itself.
Class object_getClass(const Object* object);
inline Class object_getClass(const Ref<Object>& object) {
  return object_getClass(object.get());
}
bool object_isClass(const Object* object);
// A new instance made by the class's factory; raises when the class cannot make one.
Ref<Object> class_createInstance(Class cls);
std::vector<Class> objc_copyClassList();
// Whether `cls` is `ancestor` or inherits from it.
bool class_isSubclassOfClass(Class cls, Class ancestor);

// Methods. Instance and class method look-ups search superclasses and run the class's
// resolveInstanceMethod:/resolveClassMethod: for a selector no table holds.
Method class_getInstanceMethod(Class cls, Sel sel);
Method class_getClassMethod(Class cls, Sel sel);
// Adds a method unless the class itself already defines one for the selector.
bool class_addMethod(Class cls, Sel sel, Imp imp, std::string_view types);
// Adds or replaces the class's own method; answers the implementation it replaced.
Imp class_replaceMethod(Class cls, Sel sel, Imp imp, std::string_view types);
bool class_addClassMethod(Class cls, Sel sel, Imp imp, std::string_view types);
void method_exchangeImplementations(Method a, Method b);
Imp method_setImplementation(Method m, Imp imp);
Imp method_getImplementation(Method m);
const char* method_getTypeEncoding(Method m);
Sel method_getName(Method m);
bool class_respondsToSelector(Class cls, Sel sel);
std::vector<Method> class_copyMethodList(Class cls);

// Declared properties, in declaration order; class_getProperty searches superclasses too.
Property class_getProperty(Class cls, std::string_view name);
std::vector<Property> class_copyPropertyList(Class cls);
const char* property_getName(Property p);
const char* property_getAttributes(Property p);
std::optional<std::string> property_copyAttributeValue(Property p, std::string_view attribute);
bool class_addProperty(Class cls, std::string_view name, std::string_view attributes);

// Protocols.
Protocol* objc_getProtocol(std::string_view name);
Protocol* objc_registerProtocol(std::string_view name);
const char* protocol_getName(const Protocol* p);
bool protocol_isEqual(const Protocol* a, const Protocol* b);
// Searches the protocol and the protocols it adopts; a null name when absent.
MethodDescription protocol_getMethodDescription(const Protocol* p, Sel sel, bool isRequired,
                                                bool isInstanceMethod);
// The protocol's own methods of one kind, in declaration order.
std::vector<MethodDescription> protocol_copyMethodDescriptionList(const Protocol* p, bool isRequired,
                                                                  bool isInstanceMethod);
std::vector<Protocol*> protocol_copyProtocolList(const Protocol* p);
bool protocol_conformsToProtocol(const Protocol* p, const Protocol* other);
// Whether the class itself adopts the protocol (or one adopting it); superclasses excluded.
bool class_conformsToProtocol(Class cls, const Protocol* p);
bool class_addProtocol(Class cls, Protocol* p);
std::vector<Protocol*> class_copyProtocolList(Class cls);

// The NSObject conveniences every object answers through the runtime.
bool respondsToSelector(const Object* object, Sel sel);
inline bool respondsToSelector(const Ref<Object>& o, Sel sel) {
  return respondsToSelector(o.get(), sel);
}
bool instancesRespondToSelector(Class cls, Sel sel);
bool isKindOfClass(const Object* object, Class cls);
inline bool isKindOfClass(const Ref<Object>& o, Class cls) {
  return isKindOfClass(o.get(), cls);
}
bool isMemberOfClass(const Object* object, Class cls);
inline bool isMemberOfClass(const Ref<Object>& o, Class cls) {
  return isMemberOfClass(o.get(), cls);
}
bool conformsToProtocol(const Object* object, const Protocol* p);
inline bool conformsToProtocol(const Ref<Object>& o, const Protocol* p) {
  return conformsToProtocol(o.get(), p);
}

namespace runtime {

// Commits the registered classes and protocols, then runs the +load hooks in registration
// order. Called first in main and in the test main; later calls do nothing.
void start();
bool started();

// Looks a method up in the tables only (no resolution); null when absent.
Method lookUpMethod(Class cls, Sel sel, bool classSide);
// The implementation and encoding of a method, read consistently.
struct MethodEntry {
  Imp imp;
  const std::string* types = nullptr;  // the method's encoding; records live for the process
  explicit operator bool() const { return static_cast<bool>(imp); }
};
MethodEntry lookUpEntry(Class cls, Sel sel, bool classSide, bool resolve);
// Runs the class's +initialize hooks (superclass first) if they have not run yet.
void ensureInitialized(Class cls);

// What the registration macros hand over; committed by start() (at once when already started).
struct ClassRegistration {
  std::string name;
  const std::type_info* type = nullptr;
  const std::type_info* superType = nullptr;  // null for a root class
  std::function<Ref<Object>()> factory;       // null when instances cannot be made by name
  std::function<bool(const Object*)> isInstance;
  std::function<void(ClassRecord*)> body;
};
void registerClass(ClassRegistration registration);
void registerProtocol(std::string name, std::function<void(Protocol*)> body);
// Builder hooks used by ClassBuilder.
void setClassHooks(Class cls, std::function<void()> load, std::function<void()> initialize);

// Makes an implementation of the canonical type `Fn` for a function of that exact type.
template <class Fn>
Imp makeImp(Fn* fn, const std::string& normalizedTypes);
const std::string* internTypes(std::string_view normalized);

}  // namespace runtime

template <class Fn>
Imp runtime::makeImp(Fn* fn, const std::string& normalizedTypes) {
  Imp imp;
  imp.fn = reinterpret_cast<void (*)()>(fn);
  imp.canon = &typeid(Fn*);
  imp.types = internTypes(normalizedTypes);
  return imp;
}

}  // namespace ns
