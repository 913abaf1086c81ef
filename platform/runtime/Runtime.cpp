#include "platform/runtime/Runtime.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <shared_mutex>
#include <typeindex>

#include "platform/core/NoDestructor.h"
#include "platform/runtime/Encoding.h"
#include "platform/runtime/Raise.h"
#include "platform/runtime/Send.h"
#include "platform/runtime/SideTable.h"

namespace ns {

struct RuntimeAccess {
  static Imp& imp(MethodRecord* m) { return m->imp_; }
  static ClassRecord& cls(Class c) { return *c; }
  static Protocol& proto(const Protocol* p) { return *const_cast<Protocol*>(p); }
};

namespace {

struct Registry {
  // Guards the class and protocol tables, every method table, property list and protocol list.
  std::shared_mutex lock;
  std::vector<Ref<ClassRecord>> classes;
  std::unordered_map<std::string, ClassRecord*> byName;
  std::unordered_map<std::type_index, ClassRecord*> byType;
  std::unordered_map<std::type_index, ClassRecord*> dynamicTypes;  // resolved subclasses
  std::unordered_map<std::string, Ref<Protocol>> protocols;
  std::set<std::string, std::less<>> types;
  std::vector<runtime::ClassRegistration> pendingClasses;
  std::vector<std::pair<std::string, std::function<void(Protocol*)>>> pendingProtocols;
  bool started = false;
  std::mutex startLock;
};

Registry& registry() {
  static ns::NoDestructor<Registry> r;  // lives for the whole process
  return *r;
}

MethodRecord* findIn(std::unordered_map<Sel, std::unique_ptr<MethodRecord>>& table, Sel sel) {
  auto it = table.find(sel);
  return it == table.end() ? nullptr : it->second.get();
}

// Under the registry lock.
MethodRecord* lookUpLocked(Class cls, Sel sel, bool classSide) {
  Class root = nullptr;
  for (Class c = cls; c; c = c->superclass()) {
    auto& rec = RuntimeAccess::cls(c);
    if (auto* m = findIn(classSide ? rec.classMethods_ : rec.instanceMethods_, sel)) return m;
    root = c;
  }
  // As on the original platform, a class falls back to its root class's instance methods.
  if (classSide && root) return findIn(RuntimeAccess::cls(root).instanceMethods_, sel);
  return nullptr;
}

std::string normalizedOrRaise(std::string_view types) {
  std::string n = runtime::normalizeEncoding(types);
  if (n.empty()) {
    runtime::raise("NSInvalidArgumentException",
                   "unsupported type encoding registration '" + std::string(types) + "'");
  }
  return n;
}

bool addMethodTo(Class cls, Sel sel, Imp imp, std::string_view types, bool classSide, bool replace,
                 Imp* previous) {
  if (!cls || !sel || !imp) return false;
  std::string typeText(types);
  if (typeText.empty() && imp.types) typeText = *imp.types;
  normalizedOrRaise(typeText);
  auto& r = registry();
  std::unique_lock lock(r.lock);
  auto& rec = RuntimeAccess::cls(cls);
  auto& table = classSide ? rec.classMethods_ : rec.instanceMethods_;
  if (auto* existing = findIn(table, sel)) {
    if (!replace) return false;
    if (previous) *previous = RuntimeAccess::imp(existing);
    RuntimeAccess::imp(existing) = imp;
    return true;
  }
  table.emplace(sel, std::make_unique<MethodRecord>(sel, std::move(typeText), imp));
  return true;
}

void commitClass(runtime::ClassRegistration& registration,
                 std::vector<std::pair<Class, runtime::ClassRegistration*>>& made) {
  auto& r = registry();
  if (r.byName.count(registration.name)) {
    std::fprintf(stderr, "runtime: class %s registered twice; the first registration stays\n",
                 registration.name.c_str());
    return;
  }
  auto rec = std::make_shared<ClassRecord>(registration.name, registration.type);
  auto& access = RuntimeAccess::cls(rec.get());
  access.factory_ = registration.factory;
  access.isInstance_ = registration.isInstance;
  r.byName[registration.name] = rec.get();
  if (registration.type) r.byType[std::type_index(*registration.type)] = rec.get();
  r.dynamicTypes.clear();
  made.emplace_back(rec.get(), &registration);
  r.classes.push_back(std::move(rec));
}

void linkSuperclasses(std::vector<std::pair<Class, runtime::ClassRegistration*>>& made) {
  auto& r = registry();
  for (auto& [cls, registration] : made) {
    auto& access = RuntimeAccess::cls(cls);
    if (registration->superType) {
      auto it = r.byType.find(std::type_index(*registration->superType));
      if (it == r.byType.end()) {
        std::fprintf(stderr, "runtime: the superclass of %s is not registered\n", cls->name().c_str());
      } else {
        access.super_ = it->second;
      }
    }
  }
  for (auto& [cls, registration] : made) {
    int depth = 0;
    Class root = cls;
    for (Class c = cls->superclass(); c && depth < 1000; c = c->superclass()) {
      ++depth;
      root = c;
    }
    // Every C++ object is an ns::Object, so a class under another root (NSProxy) must rank
    // above NSObject when an unregistered subclass looks for its nearest registered class.
    if (root->cppType() && *root->cppType() != typeid(Object)) ++depth;
    RuntimeAccess::cls(cls).depth_ = depth;
  }
}

void commitPending() {
  auto& r = registry();
  std::vector<runtime::ClassRegistration> registrations;
  std::vector<std::pair<std::string, std::function<void(Protocol*)>>> protos;
  std::vector<std::pair<Class, runtime::ClassRegistration*>> made;
  {
    std::unique_lock lock(r.lock);
    registrations.swap(r.pendingClasses);
    protos.swap(r.pendingProtocols);
    for (auto& [name, body] : protos) {
      if (!r.protocols.count(name)) r.protocols[name] = std::make_shared<Protocol>(name);
    }
    for (auto& registration : registrations) commitClass(registration, made);
    linkSuperclasses(made);
  }
  // Bodies run without the lock: they add methods, properties and protocols through the API.
  for (auto& [name, body] : protos) {
    if (body) body(objc_getProtocol(name));
  }
  for (auto& [cls, registration] : made) {
    if (registration->body) registration->body(cls);
  }
  for (auto& [cls, registration] : made) {
    for (auto& load : RuntimeAccess::cls(cls).loads_) load();
  }
}

}  // namespace

// Records.

MethodRecord::MethodRecord(Sel sel, std::string types, Imp imp)
    : sel_(sel), types_(std::move(types)), normalized_(runtime::normalizeEncoding(types_)), imp_(imp) {}

PropertyRecord::PropertyRecord(std::string name, std::string attributes)
    : name_(std::move(name)), attributes_(std::move(attributes)) {
  // Attributes are comma-separated; a quoted class name may itself hold no comma.
  std::size_t start = 0;
  while (start < attributes_.size()) {
    std::size_t end = start;
    bool quoted = false;
    while (end < attributes_.size() && (quoted || attributes_[end] != ',')) {
      if (attributes_[end] == '"') quoted = !quoted;
      ++end;
    }
    std::string item = attributes_.substr(start, end - start);
    if (!item.empty()) parsed_.emplace_back(item.substr(0, 1), item.substr(1));
    start = end + 1;
  }
}

std::optional<std::string> PropertyRecord::attribute(std::string_view key) const {
  for (auto& [k, v] : parsed_) {
    if (k == key) return v;
  }
  return std::nullopt;
}

std::string Protocol::description() const {
  return "<Protocol: " + name_ + ">";
}

void Protocol::addMethodDescription(Sel sel, std::string types, bool isRequired, bool isInstance) {
  auto& list = methods_[(isRequired ? 2 : 0) + (isInstance ? 1 : 0)];
  for (auto& d : list) {
    if (d.name == sel) {
      d.types = std::move(types);
      return;
    }
  }
  list.push_back({sel, std::move(types)});
}

ClassRecord::ClassRecord(std::string name, const std::type_info* cppType)
    : name_(std::move(name)), cppType_(cppType) {}

// Classes.

Class NSClassFromString(std::string_view name) {
  auto& r = registry();
  std::shared_lock lock(r.lock);
  auto it = r.byName.find(std::string(name));
  return it == r.byName.end() ? nullptr : it->second;
}

Class objc_getClass(std::string_view name) {
  return NSClassFromString(name);
}
std::string NSStringFromClass(Class cls) {
  return cls ? cls->name() : std::string();
}
const char* class_getName(Class cls) {
  return cls ? cls->name().c_str() : "nil";
}
Class class_getSuperclass(Class cls) {
  return cls ? cls->superclass() : nullptr;
}

bool object_isClass(const Object* object) {
  return object && typeid(*object) == typeid(ClassRecord);
}

Class object_getClass(const Object* object) {
  if (!object) return nullptr;
  const std::type_info& type = typeid(*object);
  if (type == typeid(ClassRecord)) return const_cast<ClassRecord*>(static_cast<const ClassRecord*>(object));
  auto& r = registry();
  std::type_index key(type);
  {
    std::shared_lock lock(r.lock);
    auto it = r.byType.find(key);
    if (it != r.byType.end()) return it->second;
    auto dt = r.dynamicTypes.find(key);
    if (dt != r.dynamicTypes.end()) return dt->second;
  }
  // An unregistered C++ subclass belongs to its nearest registered ancestor.
  std::unique_lock lock(r.lock);
  ClassRecord* best = nullptr;
  for (auto& c : r.classes) {
    auto& rec = RuntimeAccess::cls(c.get());
    if (rec.isInstance_ && rec.isInstance_(object) &&
        (!best || rec.depth_ > RuntimeAccess::cls(best).depth_)) {
      best = c.get();
    }
  }
  r.dynamicTypes[key] = best;
  return best;
}

Ref<Object> class_createInstance(Class cls) {
  if (!cls) return nullptr;
  runtime::ensureInitialized(cls);
  auto& factory = RuntimeAccess::cls(cls).factory_;
  if (!factory) {
    runtime::raise("NSInvalidArgumentException",
                   "+[" + cls->name() + " new]: the class cannot make instances by name");
  }
  return factory();
}

std::vector<Class> objc_copyClassList() {
  auto& r = registry();
  std::shared_lock lock(r.lock);
  std::vector<Class> out;
  for (auto& c : r.classes) out.push_back(c.get());
  return out;
}

bool class_isSubclassOfClass(Class cls, Class ancestor) {
  for (Class c = cls; c; c = c->superclass()) {
    if (c == ancestor) return true;
  }
  return false;
}

// Methods.

Method runtime::lookUpMethod(Class cls, Sel sel, bool classSide) {
  if (!cls || !sel) return nullptr;
  auto& r = registry();
  std::shared_lock lock(r.lock);
  return lookUpLocked(cls, sel, classSide);
}

runtime::MethodEntry runtime::lookUpEntry(Class cls, Sel sel, bool classSide, bool resolve) {
  MethodEntry entry;
  if (!cls || !sel) return entry;
  ensureInitialized(cls);
  auto& r = registry();
  {
    std::shared_lock lock(r.lock);
    if (auto* m = lookUpLocked(cls, sel, classSide)) {
      entry.imp = RuntimeAccess::imp(m);
      entry.types = &m->types();
      return entry;
    }
  }
  if (!resolve) return entry;
  static const Sel resolveInstance("resolveInstanceMethod:");
  static const Sel resolveClass("resolveClassMethod:");
  if (sel == resolveInstance || sel == resolveClass) return entry;
  bool resolved = send<bool>(static_cast<Object*>(cls), classSide ? resolveClass : resolveInstance, sel);
  if (!resolved) return entry;
  std::shared_lock lock(r.lock);
  if (auto* m = lookUpLocked(cls, sel, classSide)) {
    entry.imp = RuntimeAccess::imp(m);
    entry.types = &m->types();
  }
  return entry;
}

void runtime::ensureInitialized(Class cls) {
  auto& rec = RuntimeAccess::cls(cls);
  if (rec.initialized_.load(std::memory_order_acquire)) return;
  std::lock_guard guard(rec.initializeLock_);
  if (rec.initialized_.load(std::memory_order_relaxed) || rec.initializing_) return;
  rec.initializing_ = true;
  if (cls->superclass()) ensureInitialized(cls->superclass());
  try {
    if (rec.initialize_) rec.initialize_();
  } catch (...) {
    rec.initializing_ = false;
    throw;
  }
  rec.initializing_ = false;
  rec.initialized_.store(true, std::memory_order_release);
}

Method class_getInstanceMethod(Class cls, Sel sel) {
  if (Method m = runtime::lookUpMethod(cls, sel, false)) return m;
  if (!cls || !sel) return nullptr;
  runtime::lookUpEntry(cls, sel, false, true);
  return runtime::lookUpMethod(cls, sel, false);
}

Method class_getClassMethod(Class cls, Sel sel) {
  if (Method m = runtime::lookUpMethod(cls, sel, true)) return m;
  if (!cls || !sel) return nullptr;
  runtime::lookUpEntry(cls, sel, true, true);
  return runtime::lookUpMethod(cls, sel, true);
}

bool class_addMethod(Class cls, Sel sel, Imp imp, std::string_view types) {
  return addMethodTo(cls, sel, imp, types, false, false, nullptr);
}

bool class_addClassMethod(Class cls, Sel sel, Imp imp, std::string_view types) {
  return addMethodTo(cls, sel, imp, types, true, false, nullptr);
}

Imp class_replaceMethod(Class cls, Sel sel, Imp imp, std::string_view types) {
  Imp previous;
  addMethodTo(cls, sel, imp, types, false, true, &previous);
  return previous;
}

void method_exchangeImplementations(Method a, Method b) {
  if (!a || !b) return;
  std::unique_lock lock(registry().lock);
  std::swap(RuntimeAccess::imp(a), RuntimeAccess::imp(b));
}

Imp method_setImplementation(Method m, Imp imp) {
  if (!m || !imp) return {};
  std::unique_lock lock(registry().lock);
  Imp old = RuntimeAccess::imp(m);
  RuntimeAccess::imp(m) = imp;
  return old;
}

Imp method_getImplementation(Method m) {
  if (!m) return {};
  std::shared_lock lock(registry().lock);
  return RuntimeAccess::imp(m);
}

const char* method_getTypeEncoding(Method m) {
  return m ? m->types().c_str() : nullptr;
}
Sel method_getName(Method m) {
  return m ? m->name() : Sel();
}

bool class_respondsToSelector(Class cls, Sel sel) {
  if (!cls || !sel) return false;
  return static_cast<bool>(runtime::lookUpEntry(cls, sel, false, true));
}

std::vector<Method> class_copyMethodList(Class cls) {
  std::vector<Method> out;
  if (!cls) return out;
  std::shared_lock lock(registry().lock);
  for (auto& [sel, m] : RuntimeAccess::cls(cls).instanceMethods_) out.push_back(m.get());
  return out;
}

// Properties.

Property class_getProperty(Class cls, std::string_view name) {
  std::shared_lock lock(registry().lock);
  for (Class c = cls; c; c = c->superclass()) {
    for (auto& p : RuntimeAccess::cls(c).properties_) {
      if (p->name() == name) return p.get();
    }
  }
  return nullptr;
}

std::vector<Property> class_copyPropertyList(Class cls) {
  std::vector<Property> out;
  if (!cls) return out;
  std::shared_lock lock(registry().lock);
  for (auto& p : RuntimeAccess::cls(cls).properties_) out.push_back(p.get());
  return out;
}

const char* property_getName(Property p) {
  return p ? p->name().c_str() : nullptr;
}
const char* property_getAttributes(Property p) {
  return p ? p->attributes().c_str() : nullptr;
}

std::optional<std::string> property_copyAttributeValue(Property p, std::string_view attribute) {
  return p ? p->attribute(attribute) : std::nullopt;
}

bool class_addProperty(Class cls, std::string_view name, std::string_view attributes) {
  if (!cls || name.empty()) return false;
  std::unique_lock lock(registry().lock);
  auto& props = RuntimeAccess::cls(cls).properties_;
  for (auto& p : props) {
    if (p->name() == name) return false;
  }
  props.push_back(std::make_unique<PropertyRecord>(std::string(name), std::string(attributes)));
  return true;
}

// Protocols.

Protocol* objc_getProtocol(std::string_view name) {
  auto& r = registry();
  std::shared_lock lock(r.lock);
  auto it = r.protocols.find(std::string(name));
  return it == r.protocols.end() ? nullptr : it->second.get();
}

Protocol* objc_registerProtocol(std::string_view name) {
  auto& r = registry();
  std::unique_lock lock(r.lock);
  auto& slot = r.protocols[std::string(name)];
  if (!slot) slot = std::make_shared<Protocol>(std::string(name));
  return slot.get();
}

const char* protocol_getName(const Protocol* p) {
  return p ? p->name().c_str() : nullptr;
}

bool protocol_isEqual(const Protocol* a, const Protocol* b) {
  return a == b || (a && b && a->name() == b->name());
}

namespace {
MethodDescription findDescription(const Protocol* p, Sel sel, int kind, int depth) {
  if (!p || depth > 64) return {};
  auto& proto = RuntimeAccess::proto(p);
  for (auto& d : proto.methods_[kind]) {
    if (d.name == sel) return d;
  }
  for (Protocol* adopted : proto.adopted_) {
    auto d = findDescription(adopted, sel, kind, depth + 1);
    if (d.name) return d;
  }
  return {};
}

bool conforms(const Protocol* p, const Protocol* other, int depth) {
  if (!p || !other || depth > 64) return false;
  if (protocol_isEqual(p, other)) return true;
  for (Protocol* adopted : RuntimeAccess::proto(p).adopted_) {
    if (conforms(adopted, other, depth + 1)) return true;
  }
  return false;
}
}  // namespace

MethodDescription protocol_getMethodDescription(const Protocol* p, Sel sel, bool isRequired,
                                                bool isInstanceMethod) {
  std::shared_lock lock(registry().lock);
  return findDescription(p, sel, (isRequired ? 2 : 0) + (isInstanceMethod ? 1 : 0), 0);
}

std::vector<MethodDescription> protocol_copyMethodDescriptionList(const Protocol* p, bool isRequired,
                                                                  bool isInstanceMethod) {
  if (!p) return {};
  std::shared_lock lock(registry().lock);
  return RuntimeAccess::proto(p).methods_[(isRequired ? 2 : 0) + (isInstanceMethod ? 1 : 0)];
}

std::vector<Protocol*> protocol_copyProtocolList(const Protocol* p) {
  if (!p) return {};
  std::shared_lock lock(registry().lock);
  return RuntimeAccess::proto(p).adopted_;
}

bool protocol_conformsToProtocol(const Protocol* p, const Protocol* other) {
  std::shared_lock lock(registry().lock);
  return conforms(p, other, 0);
}

bool class_conformsToProtocol(Class cls, const Protocol* p) {
  if (!cls || !p) return false;
  std::shared_lock lock(registry().lock);
  for (Protocol* adopted : RuntimeAccess::cls(cls).protocols_) {
    if (conforms(adopted, p, 0)) return true;
  }
  return false;
}

bool class_addProtocol(Class cls, Protocol* p) {
  if (!cls || !p) return false;
  std::unique_lock lock(registry().lock);
  auto& list = RuntimeAccess::cls(cls).protocols_;
  if (std::find(list.begin(), list.end(), p) != list.end()) return false;
  list.push_back(p);
  return true;
}

std::vector<Protocol*> class_copyProtocolList(Class cls) {
  if (!cls) return {};
  std::shared_lock lock(registry().lock);
  return RuntimeAccess::cls(cls).protocols_;
}

// NSObject conveniences.

bool respondsToSelector(const Object* object, Sel sel) {
  static const Sel responds("respondsToSelector:");
  if (!object || !sel) return false;
  return send<bool>(object, responds, sel);
}

bool instancesRespondToSelector(Class cls, Sel sel) {
  return class_respondsToSelector(cls, sel);
}

bool isKindOfClass(const Object* object, Class cls) {
  return object && class_isSubclassOfClass(object_getClass(object), cls);
}

bool isMemberOfClass(const Object* object, Class cls) {
  return object && cls && object_getClass(object) == cls;
}

bool conformsToProtocol(const Object* object, const Protocol* p) {
  static const Sel conformsSel("conformsToProtocol:");
  if (!object || !p) return false;
  return send<bool>(object, conformsSel, const_cast<Protocol*>(p));
}

// Registration.

namespace runtime {

void registerClass(ClassRegistration registration) {
  auto& r = registry();
  bool commitNow;
  {
    std::unique_lock lock(r.lock);
    r.pendingClasses.push_back(std::move(registration));
    commitNow = r.started;
  }
  if (commitNow) commitPending();
}

void registerProtocol(std::string name, std::function<void(Protocol*)> body) {
  auto& r = registry();
  bool commitNow;
  {
    std::unique_lock lock(r.lock);
    r.pendingProtocols.emplace_back(std::move(name), std::move(body));
    commitNow = r.started;
  }
  if (commitNow) commitPending();
}

void setClassHooks(Class cls, std::function<void()> load, std::function<void()> initialize) {
  auto& rec = RuntimeAccess::cls(cls);
  if (load) rec.loads_.push_back(std::move(load));
  if (initialize) rec.initialize_ = std::move(initialize);
}

const std::string* internTypes(std::string_view normalized) {
  auto& r = registry();
  {
    std::shared_lock lock(r.lock);
    auto it = r.types.find(normalized);
    if (it != r.types.end()) return &*it;
  }
  std::unique_lock lock(r.lock);
  return &*r.types.emplace(normalized).first;
}

void registerBuiltinClasses();  // BuiltinClasses.cpp

bool started() {
  auto& r = registry();
  std::shared_lock lock(r.lock);
  return r.started;
}

void start() {
  auto& r = registry();
  std::lock_guard once(r.startLock);
  {
    std::shared_lock lock(r.lock);
    if (r.started) return;
  }
  {
    // The built-in classes come first so that their +load hooks and bodies run before others.
    std::size_t before;
    {
      std::shared_lock lock(r.lock);
      before = r.pendingClasses.size();
    }
    registerBuiltinClasses();
    std::unique_lock lock(r.lock);
    std::rotate(r.pendingClasses.begin(), r.pendingClasses.begin() + static_cast<long>(before),
                r.pendingClasses.end());
  }
  ns::detail::objectDestroyedHook = &runtime::objectDestroyed;
  commitPending();
  std::unique_lock lock(r.lock);
  r.started = true;
}

}  // namespace runtime

namespace detail {

const std::string* registeredClassName(const std::type_info& type) {
  auto& r = registry();
  std::shared_lock lock(r.lock);
  auto it = r.byType.find(std::type_index(type));
  return it == r.byType.end() ? nullptr : &it->second->name();
}

}  // namespace detail
}  // namespace ns
