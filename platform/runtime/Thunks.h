#pragma once
// Implementations made from C++ functions. Each generated thunk has the canonical C signature of
// its type encoding: Canon<R>(Object* self, SEL _cmd, Canon<A>...). Exceptions are caught in the
// thunk and rethrown by the runtime call site once the call has returned.
//
//   ns::imp<&Video::play>()          member function: self is converted to Video (checked)
//   ns::imp<&titleGetter>()          free function R(S self, ns::Sel cmd, A...), S being
//                                    Object*, Video*, Ref<Video> or ns::Class
//   ns::staticImp<&Video::make>()    static function without self, for class methods
#include <exception>
#include <string>
#include <type_traits>

#include "platform/runtime/Encoding.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/TypeCodec.h"

namespace ns {

namespace detail {
[[noreturn]] void raiseWrongReceiver(Object* self, const char* expected);

template <class S>
S receiverAs(Object* self) {
  if constexpr (std::is_same_v<S, Class>) {
    if (!object_isClass(self)) raiseWrongReceiver(self, "class");
    return static_cast<ClassRecord*>(self);
  } else if constexpr (std::is_same_v<S, Object*>) {
    return self;
  } else if constexpr (std::is_pointer_v<S>) {
    auto* typed = dynamic_cast<S>(self);
    if (!typed) raiseWrongReceiver(self, typeid(std::remove_pointer_t<S>).name());
    return typed;
  } else {
    return runtime::TypeCodec<S>::out(self);  // Ref<C>
  }
}
}  // namespace detail

namespace runtime {

template <auto M, class C, class R, class... A>
struct MemberThunk {
  static Canon<R> call(Object* self, SEL, Canon<A>... args) {
    try {
      C* object = detail::receiverAs<C*>(self);
      if constexpr (std::is_void_v<R>) {
        (object->*M)(fromCanon<A>(args)...);
      } else {
        return returnCanon<R>((object->*M)(fromCanon<A>(args)...));
      }
    } catch (...) {
      detail::storePendingException(std::current_exception());
      if constexpr (!std::is_void_v<R>) return Canon<R>{};
    }
  }
};

template <auto F, class S, class R, class... A>
struct SelfThunk {
  static Canon<R> call(Object* self, SEL cmd, Canon<A>... args) {
    try {
      if constexpr (std::is_void_v<R>) {
        F(detail::receiverAs<S>(self), Sel(cmd), fromCanon<A>(args)...);
      } else {
        return returnCanon<R>(F(detail::receiverAs<S>(self), Sel(cmd), fromCanon<A>(args)...));
      }
    } catch (...) {
      detail::storePendingException(std::current_exception());
      if constexpr (!std::is_void_v<R>) return Canon<R>{};
    }
  }
};

template <auto F, class R, class... A>
struct StaticThunk {
  static Canon<R> call(Object*, SEL, Canon<A>... args) {
    try {
      if constexpr (std::is_void_v<R>) {
        F(fromCanon<A>(args)...);
      } else {
        return returnCanon<R>(F(fromCanon<A>(args)...));
      }
    } catch (...) {
      detail::storePendingException(std::current_exception());
      if constexpr (!std::is_void_v<R>) return Canon<R>{};
    }
  }
};

template <class R, class... A>
Imp thunkImp(Canon<R> (*fn)(Object*, SEL, Canon<A>...)) {
  static const std::string types = normalizeEncoding(methodEncoding<R, A...>());
  return makeImp(fn, types);
}

template <auto M, class C, class R, class... A>
Imp memberImp(R (C::*)(A...)) {
  return thunkImp<R, A...>(&MemberThunk<M, C, R, A...>::call);
}
template <auto M, class C, class R, class... A>
Imp memberImp(R (C::*)(A...) const) {
  return thunkImp<R, A...>(&MemberThunk<M, const C, R, A...>::call);
}
template <auto M, class C, class R, class... A>
Imp memberImp(R (C::*)(A...) noexcept) {
  return thunkImp<R, A...>(&MemberThunk<M, C, R, A...>::call);
}
template <auto M, class C, class R, class... A>
Imp memberImp(R (C::*)(A...) const noexcept) {
  return thunkImp<R, A...>(&MemberThunk<M, const C, R, A...>::call);
}
template <auto F, class S, class R, class... A>
Imp selfImp(R (*)(S, Sel, A...)) {
  return thunkImp<R, A...>(&SelfThunk<F, S, R, A...>::call);
}
template <auto F, class R, class... A>
Imp staticImp(R (*)(A...)) {
  return thunkImp<R, A...>(&StaticThunk<F, R, A...>::call);
}

template <class C, class R, class... A>
std::string memberTypes(R (C::*)(A...)) {
  return methodEncoding<R, A...>();
}
template <class C, class R, class... A>
std::string memberTypes(R (C::*)(A...) const) {
  return methodEncoding<R, A...>();
}
template <class C, class R, class... A>
std::string memberTypes(R (C::*)(A...) noexcept) {
  return methodEncoding<R, A...>();
}
template <class C, class R, class... A>
std::string memberTypes(R (C::*)(A...) const noexcept) {
  return methodEncoding<R, A...>();
}
template <class S, class R, class... A>
std::string selfTypes(R (*)(S, Sel, A...)) {
  return methodEncoding<R, A...>();
}
template <class R, class... A>
std::string staticTypes(R (*)(A...)) {
  return methodEncoding<R, A...>();
}

template <class T>
struct ResultOf;
template <class C, class R, class... A>
struct ResultOf<R (C::*)(A...)> {
  using type = R;
};
template <class C, class R, class... A>
struct ResultOf<R (C::*)(A...) const> {
  using type = R;
};
template <class C, class R, class... A>
struct ResultOf<R (C::*)(A...) noexcept> {
  using type = R;
};
template <class C, class R, class... A>
struct ResultOf<R (C::*)(A...) const noexcept> {
  using type = R;
};
template <class R, class... A>
struct ResultOf<R (*)(A...)> {
  using type = R;
};

}  // namespace runtime

// The implementation of a member function, or of a free function taking (self, _cmd, ...).
template <auto F>
Imp imp() {
  if constexpr (std::is_member_function_pointer_v<decltype(F)>) {
    return runtime::memberImp<F>(F);
  } else {
    return runtime::selfImp<F>(F);
  }
}
// Its method encoding, with frame offsets ("v24@0:8@16").
template <auto F>
std::string impTypes() {
  if constexpr (std::is_member_function_pointer_v<decltype(F)>) {
    return runtime::memberTypes(F);
  } else {
    return runtime::selfTypes(F);
  }
}
// A static function without receiver, as a class method.
template <auto F>
Imp staticImp() {
  return runtime::staticImp<F>(F);
}
template <auto F>
std::string staticImpTypes() {
  return runtime::staticTypes(F);
}

}  // namespace ns
