#pragma once
// How C++ types cross the runtime. Every type that can be an argument or a return value of a
// runtime method or a block has a codec: its type encoding, its canonical C type (one per
// encoding, so implementations are always called through their exact function type), and the
// conversions between the two. Objects travel as `Object*`: the caller keeps arguments alive for
// the call, and a returned object is kept in a per-thread return slot until the caller has
// taken its own reference (there are no autorelease pools).
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <typeinfo>

#include "platform/core/Object.h"
#include "platform/runtime/Sel.h"

namespace ns {

class ClassRecord;
using Class = ClassRecord*;
class Protocol;
class Block;

// The platform's boolean: a signed char, encoded "c". C++ `bool` is encoded "B".
using BOOL = signed char;
inline constexpr BOOL YES = 1;
inline constexpr BOOL NO = 0;

namespace detail {
// The per-thread slot that keeps a returned object alive between callee and caller.
Ref<Object>& returnSlot();
inline Ref<Object> takeReturnSlot() {
  return std::move(returnSlot());
}
// Exceptions never unwind through foreign call frames: implementations catch and park them here
// and every runtime call site rethrows once the call has returned.
void storePendingException(std::exception_ptr e);
void rethrowPendingException();
// The registered runtime name of a C++ class, or nullptr when it has none.
const std::string* registeredClassName(const std::type_info& type);
// The object behind a raw pointer as a strong reference; raises when it is not owned by a Ref.
Ref<Object> retain(Object* object);
// The same, answering null for an object that no Ref owns.
Ref<Object> tryRetain(Object* object);
[[noreturn]] void raiseWrongClass(const char* expected, Object* actual);
}  // namespace detail

namespace runtime {

template <class T, class Enable = void>
struct TypeCodec;  // no codec: the type cannot cross the runtime

// Arithmetic types.
template <char Code, class T>
struct ScalarCodec {
  using Canon = T;
  static std::string encoding(bool = false) { return std::string(1, Code); }
  static Canon in(T v, Ref<Object>&) { return v; }
  static T out(Canon v) { return v; }
};

template <>
struct TypeCodec<bool> : ScalarCodec<'B', bool> {};
template <>
struct TypeCodec<char> : ScalarCodec<'c', char> {};
template <>
struct TypeCodec<signed char> : ScalarCodec<'c', signed char> {};
template <>
struct TypeCodec<unsigned char> : ScalarCodec<'C', unsigned char> {};
template <>
struct TypeCodec<short> : ScalarCodec<'s', short> {};
template <>
struct TypeCodec<unsigned short> : ScalarCodec<'S', unsigned short> {};
template <>
struct TypeCodec<int> : ScalarCodec<'i', int> {};
template <>
struct TypeCodec<unsigned> : ScalarCodec<'I', unsigned> {};
template <>
struct TypeCodec<long> : ScalarCodec<'q', long> {};
template <>
struct TypeCodec<unsigned long> : ScalarCodec<'Q', unsigned long> {};
template <>
struct TypeCodec<long long> : ScalarCodec<'q', long long> {};
template <>
struct TypeCodec<unsigned long long> : ScalarCodec<'Q', unsigned long long> {};
template <>
struct TypeCodec<float> : ScalarCodec<'f', float> {};
template <>
struct TypeCodec<double> : ScalarCodec<'d', double> {};

template <class E>
struct TypeCodec<E, std::enable_if_t<std::is_enum_v<E>>> {
  using U = std::underlying_type_t<E>;
  using Canon = typename TypeCodec<U>::Canon;
  static std::string encoding(bool = false) { return TypeCodec<U>::encoding(); }
  static Canon in(E v, Ref<Object>&) { return static_cast<Canon>(v); }
  static E out(Canon v) { return static_cast<E>(v); }
};

template <>
struct TypeCodec<void> {
  using Canon = void;
  static std::string encoding(bool = false) { return "v"; }
};

template <>
struct TypeCodec<Sel> {
  using Canon = SEL;
  static std::string encoding(bool = false) { return ":"; }
  static Canon in(Sel s, Ref<Object>&) { return s.raw(); }
  static Sel out(Canon s) { return Sel(s); }
};

template <>
struct TypeCodec<Class> {
  using Canon = ClassRecord*;
  static std::string encoding(bool = false) { return "#"; }
  static Canon in(Class c, Ref<Object>&) { return c; }
  static Class out(Canon c) { return c; }
};

template <>
struct TypeCodec<const char*> {
  using Canon = const char*;
  static std::string encoding(bool = false) { return "*"; }
  static Canon in(const char* s, Ref<Object>&) { return s; }
  static const char* out(Canon s) { return s; }
};

// Character arrays (string literals) decay to char*: C strings too.
template <>
struct TypeCodec<char*> {
  using Canon = const char*;
  static std::string encoding(bool = false) { return "*"; }
  static Canon in(const char* s, Ref<Object>&) { return s; }
};

template <class T>
struct TypeCodec<T*, std::enable_if_t<!std::is_base_of_v<Object, T> && !std::is_same_v<T, const char> &&
                                      !std::is_same_v<T, char>>> {
  using Canon = void*;
  static std::string encoding(bool = false) {
    if constexpr (std::is_void_v<std::remove_cv_t<T>>) {
      return "^v";
    } else {
      return "^" + TypeCodec<std::remove_cv_t<T>>::encoding();
    }
  }
  static Canon in(T* p, Ref<Object>&) { return const_cast<void*>(static_cast<const void*>(p)); }
  static T* out(Canon p) { return static_cast<T*>(p); }
};

template <class T>
std::string objectEncoding(bool withClassName) {
  if constexpr (std::is_same_v<T, Block>) {
    return "@?";
  } else {
    if (!withClassName || std::is_same_v<T, Object>) return "@";
    const std::string* name = detail::registeredClassName(typeid(T));
    return name ? "@\"" + *name + "\"" : "@";
  }
}

template <class T>
Ref<T> castObject(Object* o) {
  if (!o) return nullptr;
  Ref<Object> strong = detail::retain(o);
  if constexpr (std::is_same_v<T, Object>) {
    return strong;
  } else {
    auto typed = std::dynamic_pointer_cast<T>(strong);
    if (!typed) detail::raiseWrongClass(typeid(T).name(), o);
    return typed;
  }
}

// Shared objects: Ref<T>, Weak<T> and T* for every T derived from Object.
template <class T>
struct TypeCodec<Ref<T>, std::enable_if_t<std::is_base_of_v<Object, T>>> {
  using Canon = Object*;
  static std::string encoding(bool withClassName = false) {
    return objectEncoding<std::remove_cv_t<T>>(withClassName);
  }
  static Canon in(const Ref<T>& v, Ref<Object>&) {
    return const_cast<Object*>(static_cast<const Object*>(v.get()));
  }
  static Ref<T> out(Canon v) { return castObject<std::remove_cv_t<T>>(v); }
};

template <class T>
struct TypeCodec<Weak<T>, std::enable_if_t<std::is_base_of_v<Object, T>>> {
  using Canon = Object*;
  static std::string encoding(bool withClassName = false) {
    return objectEncoding<std::remove_cv_t<T>>(withClassName);
  }
  static Canon in(const Weak<T>& v, Ref<Object>& keep) {
    auto strong = v.lock();
    keep = std::const_pointer_cast<std::remove_cv_t<T>>(strong);
    return const_cast<Object*>(static_cast<const Object*>(strong.get()));
  }
  static Weak<T> out(Canon v) { return castObject<std::remove_cv_t<T>>(v); }
};

template <class T>
struct TypeCodec<T*, std::enable_if_t<std::is_base_of_v<Object, T>>> {
  using Canon = Object*;
  static std::string encoding(bool withClassName = false) {
    return objectEncoding<std::remove_cv_t<T>>(withClassName);
  }
  static Canon in(T* v, Ref<Object>&) { return const_cast<Object*>(static_cast<const Object*>(v)); }
  static T* out(Canon v) {
    if (!v) return nullptr;
    auto* typed = dynamic_cast<T*>(v);
    if (!typed) detail::raiseWrongClass(typeid(T).name(), v);
    return typed;
  }
};

template <class T>
using Canon = typename TypeCodec<std::decay_t<T>>::Canon;

template <class T>
std::string encodingOf(bool withClassName = false) {
  return TypeCodec<std::decay_t<T>>::encoding(withClassName);
}

// The size the frame-offset arithmetic uses for a type: integers take at least an int.
template <class T>
constexpr std::size_t frameSize() {
  using C = Canon<T>;
  if constexpr (std::is_integral_v<C>) {
    return sizeof(C) < sizeof(int) ? sizeof(int) : sizeof(C);
  } else {
    return sizeof(C);
  }
}

// "v24@0:8@16": return type, frame size, then self, _cmd and each argument with its offset.
template <class R, class... A>
std::string methodEncoding() {
  std::string args = "@0:8";
  std::size_t offset = 2 * sizeof(void*);
  ((args += encodingOf<A>() + std::to_string(offset), offset += frameSize<A>()), ...);
  return encodingOf<R>() + std::to_string(offset) + args;
}

// "v24@?0@\"NSString\"8@16": return type, frame size, the block itself, then each argument.
template <class R, class... A>
std::string blockEncoding() {
  std::string args = "@?0";
  std::size_t offset = sizeof(void*);
  ((args += encodingOf<A>(true) + std::to_string(offset), offset += frameSize<A>()), ...);
  return encodingOf<R>(true) + std::to_string(offset) + args;
}

// Converts a C++ value into its canonical form for passing; `keep` holds any box made for it.
template <class T>
Canon<T> toCanon(const T& value, Ref<Object>& keep) {
  return TypeCodec<std::decay_t<T>>::in(value, keep);
}

// Converts a canonical argument into the C++ type an implementation takes.
template <class T>
std::decay_t<T> fromCanon(Canon<T> value) {
  return TypeCodec<std::decay_t<T>>::out(value);
}

// Converts an implementation's result into its canonical form, parking objects in the slot.
template <class T>
Canon<T> returnCanon(T&& value) {
  Ref<Object> keep;
  auto c = TypeCodec<std::decay_t<T>>::in(value, keep);
  if constexpr (std::is_same_v<Canon<T>, Object*>) {
    detail::returnSlot() = keep ? std::move(keep) : detail::tryRetain(c);
  }
  return c;
}

// Converts a canonical result back, taking the object parked by the callee.
template <class T>
std::decay_t<T> resultFromCanon(Canon<T> value) {
  if constexpr (std::is_same_v<Canon<T>, Object*>) {
    Ref<Object> keep = detail::takeReturnSlot();
    return TypeCodec<std::decay_t<T>>::out(value);
  } else {
    return TypeCodec<std::decay_t<T>>::out(value);
  }
}

}  // namespace runtime
}  // namespace ns

#include "platform/runtime/ValueBox.h"

namespace ns::runtime {

// Values travel boxed; `Name` is the class the property attributes name ("" for a plain id).
template <class T, const char* Name>
struct BoxedCodec {
  using Canon = Object*;
  static std::string encoding(bool withClassName = false) {
    return withClassName && Name[0] ? "@\"" + std::string(Name) + "\"" : "@";
  }
  static Canon in(const T& v, Ref<Object>& keep) { return boxValue(Value(v), keep); }
};

inline constexpr char kNoClass[] = "";
inline constexpr char kNSString[] = "NSString";
inline constexpr char kNSNumber[] = "NSNumber";
inline constexpr char kNSArray[] = "NSArray";
inline constexpr char kNSDictionary[] = "NSDictionary";
inline constexpr char kNSSet[] = "NSSet";
inline constexpr char kNSData[] = "NSData";
inline constexpr char kNSDate[] = "NSDate";

template <>
struct TypeCodec<Value> : BoxedCodec<Value, kNoClass> {
  static Value out(Canon o) { return unboxValue(o); }
};
template <>
struct TypeCodec<std::string> : BoxedCodec<std::string, kNSString> {
  static std::string out(Canon o) {
    Value v = unboxValue(o);
    return v.isString() ? v.string() : v.stringValue();
  }
};
template <>
struct TypeCodec<std::optional<std::string>> : BoxedCodec<std::optional<std::string>, kNSString> {
  static std::optional<std::string> out(Canon o) {
    if (!o) return std::nullopt;
    return TypeCodec<std::string>::out(o);
  }
};
template <>
struct TypeCodec<Number> : BoxedCodec<Number, kNSNumber> {
  static Number out(Canon o) { return unboxValue(o).number(); }
};
template <>
struct TypeCodec<Array> : BoxedCodec<Array, kNSArray> {
  static Array out(Canon o) { return unboxValue(o).array(); }
};
template <>
struct TypeCodec<Dictionary> : BoxedCodec<Dictionary, kNSDictionary> {
  static Dictionary out(Canon o) { return unboxValue(o).dictionary(); }
};
template <>
struct TypeCodec<Set> : BoxedCodec<Set, kNSSet> {
  static Set out(Canon o) { return unboxValue(o).set(); }
};
template <>
struct TypeCodec<Data> : BoxedCodec<Data, kNSData> {
  static Data out(Canon o) { return unboxValue(o).data(); }
};
template <>
struct TypeCodec<Date> : BoxedCodec<Date, kNSDate> {
  static Date out(Canon o) { return unboxValue(o).date(); }
};

}  // namespace ns::runtime

// Declares the encoding of a plain structure so that it can be passed by value:
// PL_STRUCT_ENCODING(CGRect, "{CGRect={CGPoint=dd}{CGSize=dd}}")
#define PL_STRUCT_ENCODING(Type, Text)                                                   \
  template <>                                                                            \
  struct ns::runtime::TypeCodec<Type> {                                                  \
    static_assert(std::is_trivially_copyable_v<Type>, "structures are passed by bytes"); \
    using Canon = Type;                                                                  \
    static std::string encoding(bool = false) { return Text; }                           \
    static Canon in(const Type& v, ns::Ref<ns::Object>&) { return v; }                   \
    static Type out(Canon v) { return v; }                                               \
  }
