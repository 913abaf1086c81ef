#pragma once
// Registering a class with the runtime, in the class's .cpp:
//
//   PL_CLASS(Video, ns::Object) {
//     cls.method<&Video::play>("play");
//     cls.method<&Video::loadVideo>("loadVideo:");
//     cls.classMethod<&Video::videoWithName>("videoWithName:");
//     cls.property<&Video::title, &Video::setTitle>("title", "C,N,V_title");
//     cls.property<&Video::count>("count", "R,N,V_count");
//     cls.declaredProperty("identifier", "T@\"NSString\",D,N");
//     cls.protocol("VideoDelegate");
//     cls.load([] { ... });         // runs at start-up, in registration order
//     cls.initialize([] { ... });   // runs once, superclass first, on first use
//   }
//
// Registrations are committed by ns::runtime::start(). The .cpp must be linked into the program
// (a class nothing refers to from C++ is dropped by the linker with its registration).
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>

#include "platform/runtime/Runtime.h"
#include "platform/runtime/Thunks.h"

namespace ns::runtime {

// "title" -> "setTitle:".
std::string setterNameForProperty(std::string_view name);

template <class C>
class ClassBuilder {
 public:
  explicit ClassBuilder(Class cls) : cls_(cls) {}
  Class cls() const { return cls_; }

  // An instance method from a member function or from a free function (self, _cmd, ...).
  template <auto F>
  ClassBuilder& method(Sel sel) {
    class_addMethod(cls_, sel, ::ns::imp<F>(), ::ns::impTypes<F>());
    return *this;
  }
  // A class method from a static function without receiver, or from a free function taking
  // (ns::Class self, ns::Sel _cmd, ...).
  template <auto F>
  ClassBuilder& classMethod(Sel sel) {
    if constexpr (takesClassReceiver(F)) {
      class_addClassMethod(cls_, sel, ::ns::imp<F>(), ::ns::impTypes<F>());
    } else {
      class_addClassMethod(cls_, sel, ::ns::staticImp<F>(), ::ns::staticImpTypes<F>());
    }
    return *this;
  }
  // A declared property whose type attribute comes from the getter's result type (unless the
  // attributes begin with "T"); registers the getter and, when given, the setter as methods.
  template <auto Getter, auto Setter = nullptr>
  ClassBuilder& property(std::string_view name, std::string_view attributes) {
    std::string attrs(attributes);
    if (attrs.empty() || attrs[0] != 'T') {
      using R = typename ResultOf<decltype(Getter)>::type;
      attrs = "T" + encodingOf<R>(true) + (attrs.empty() ? "" : "," + attrs);
    }
    class_addProperty(cls_, name, attrs);
    Property p = class_getProperty(cls_, name);
    auto getter = property_copyAttributeValue(p, "G");
    method<Getter>(Sel(getter ? *getter : std::string(name)));
    if constexpr (!std::is_same_v<decltype(Setter), std::nullptr_t>) {
      auto setter = property_copyAttributeValue(p, "S");
      method<Setter>(Sel(setter ? *setter : setterNameForProperty(name)));
    }
    return *this;
  }
  // A declared property without accessors here (dynamic, or resolved at run time).
  ClassBuilder& declaredProperty(std::string_view name, std::string_view attributes) {
    class_addProperty(cls_, name, attributes);
    return *this;
  }
  ClassBuilder& protocol(std::string_view name) {
    class_addProtocol(cls_, objc_registerProtocol(name));
    return *this;
  }
  ClassBuilder& load(std::function<void()> hook) {
    setClassHooks(cls_, std::move(hook), nullptr);
    return *this;
  }
  ClassBuilder& initialize(std::function<void()> hook) {
    setClassHooks(cls_, nullptr, std::move(hook));
    return *this;
  }

 private:
  template <class F>
  static constexpr bool takesClassReceiver(F) {
    return false;
  }
  template <class R, class... A>
  static constexpr bool takesClassReceiver(R (*)(Class, Sel, A...)) {
    return true;
  }
  Class cls_;
};

class ProtocolBuilder {
 public:
  explicit ProtocolBuilder(Protocol* p) : p_(p) {}
  Protocol* protocol() const { return p_; }
  ProtocolBuilder& adopts(std::string_view name) {
    p_->addProtocol(objc_registerProtocol(name));
    return *this;
  }
  // Methods described by a C++ signature: required<void(Ref<Object>, long)>("a:b:").
  template <class Sig>
  ProtocolBuilder& required(Sel sel) {
    return describe<Sig>(sel, true, true);
  }
  template <class Sig>
  ProtocolBuilder& optional(Sel sel) {
    return describe<Sig>(sel, false, true);
  }
  template <class Sig>
  ProtocolBuilder& requiredClassMethod(Sel sel) {
    return describe<Sig>(sel, true, false);
  }
  template <class Sig>
  ProtocolBuilder& optionalClassMethod(Sel sel) {
    return describe<Sig>(sel, false, false);
  }
  // A method described by its encoding.
  ProtocolBuilder& method(Sel sel, std::string types, bool isRequired, bool isInstance) {
    p_->addMethodDescription(sel, std::move(types), isRequired, isInstance);
    return *this;
  }

 private:
  template <class Sig>
  struct Encode;
  template <class R, class... A>
  struct Encode<R(A...)> {
    static std::string text() { return methodEncoding<R, A...>(); }
  };
  template <class Sig>
  ProtocolBuilder& describe(Sel sel, bool isRequired, bool isInstance) {
    p_->addMethodDescription(sel, Encode<Sig>::text(), isRequired, isInstance);
    return *this;
  }
  Protocol* p_;
};

template <class C, class Super>
bool declareClass(const char* name, void (*body)(ClassBuilder<C>&)) {
  static_assert(std::is_base_of_v<Object, C>, "runtime classes derive from ns::Object");
  ClassRegistration registration;
  registration.name = name;
  registration.type = &typeid(C);
  if constexpr (!std::is_void_v<Super>) {
    static_assert(std::is_base_of_v<Super, C>, "the superclass must be a C++ base class");
    registration.superType = &typeid(Super);
  }
  if constexpr (std::is_default_constructible_v<C> && !std::is_abstract_v<C>) {
    registration.factory = [] { return std::static_pointer_cast<Object>(make<C>()); };
  }
  registration.isInstance = [](const Object* o) { return dynamic_cast<const C*>(o) != nullptr; };
  registration.body = [body](ClassRecord* cls) {
    ClassBuilder<C> builder(cls);
    body(builder);
  };
  registerClass(std::move(registration));
  return true;
}

inline bool declareProtocol(const char* name, void (*body)(ProtocolBuilder&)) {
  registerProtocol(name, [body](Protocol* p) {
    ProtocolBuilder builder(p);
    body(builder);
  });
  return true;
}

}  // namespace ns::runtime

#define PL_RUNTIME_CAT_(a, b) a##b
#define PL_RUNTIME_CAT(a, b) PL_RUNTIME_CAT_(a, b)

// Registers C++ class `Cpp` (derived from `Super`) under the runtime name `Name`; the braces
// that follow are the body, with `cls` the builder. Use void as `Super` for a root class. The
// generated names take a counter rather than the line, so that two files built as one unity
// translation unit never clash.
#define PL_CLASS_NAMED(Cpp, Name, Super) PL_CLASS_NAMED_(Cpp, Name, Super, __COUNTER__)
#define PL_CLASS_NAMED_(Cpp, Name, Super, id)                                               \
  static void PL_RUNTIME_CAT(plRegisterClass_, id)(::ns::runtime::ClassBuilder<Cpp>&);      \
  [[maybe_unused]] static const bool PL_RUNTIME_CAT(plClassRegistered_, id) =               \
      ::ns::runtime::declareClass<Cpp, Super>(Name, &PL_RUNTIME_CAT(plRegisterClass_, id)); \
  static void PL_RUNTIME_CAT(plRegisterClass_, id)([[maybe_unused]] ::ns::runtime::ClassBuilder<Cpp> & cls)

#define PL_CLASS(Cpp, Super) PL_CLASS_NAMED(Cpp, #Cpp, Super)

// Registers a protocol; the braces that follow are the body, with `proto` the builder.
#define PL_PROTOCOL(Name) PL_PROTOCOL_(Name, __COUNTER__)
#define PL_PROTOCOL_(Name, id)                                                          \
  static void PL_RUNTIME_CAT(plRegisterProtocol_, id)(::ns::runtime::ProtocolBuilder&); \
  [[maybe_unused]] static const bool PL_RUNTIME_CAT(plProtocolRegistered_, id) =        \
      ::ns::runtime::declareProtocol(#Name, &PL_RUNTIME_CAT(plRegisterProtocol_, id));  \
  static void PL_RUNTIME_CAT(plRegisterProtocol_, id)([[maybe_unused]] ::ns::runtime::ProtocolBuilder & proto)
