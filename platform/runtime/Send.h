#pragma once
// Sending a message chosen at run time: ns::send<R>(object, selector, arguments...).
//
// Resolution follows the original platform: the method tables; resolveInstanceMethod: (or
// resolveClassMethod: for a class); forwardingTargetForSelector:; methodSignatureForSelector:
// then forwardInvocation:; else doesNotRecognizeSelector:, which raises
// NSInvalidArgumentException. Sending to null answers a zero value. A call whose argument or
// result types do not fit the method's encoding raises NSInvalidArgumentException; arithmetic
// values convert (an int argument to a double parameter, a BOOL result read as bool).
#include <cstddef>
#include <type_traits>
#include <utility>

#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Invocation.h"
#include "platform/runtime/TypeCodec.h"

namespace ns {

namespace detail {

template <class R, class... A, std::size_t... I>
R callDirect(void (*fn)(), Object* self, Sel sel, std::index_sequence<I...>, const A&... args) {
  using Fn = runtime::Canon<R> (*)(Object*, SEL, runtime::Canon<A>...);
  Ref<Object> keep[sizeof...(A) + 1];
  auto typed = reinterpret_cast<Fn>(fn);
  if constexpr (std::is_void_v<R>) {
    typed(self, sel.raw(), runtime::toCanon(args, keep[I])...);
    rethrowPendingException();
  } else {
    auto result = typed(self, sel.raw(), runtime::toCanon(args, keep[I])...);
    rethrowPendingException();
    return runtime::resultFromCanon<R>(result);
  }
}

template <class R, class... A>
R sendSlow(const Object* self, Sel sel, const A&... args) {
  PreparedSend prepared = prepareSend(self, sel, sizeof...(A));
  Invocation& inv = *prepared.invocation;
  long index = 2;
  (inv.setArgumentValue(index++, args), ...);
  if constexpr (!std::is_void_v<R>) inv.checkArgumentType(-1, Invocation::normalizedOf<R>(), false);
  completeSend(prepared);
  if constexpr (!std::is_void_v<R>) return inv.returnValue<R>();
}

}  // namespace detail

template <class R = void, class... A>
R send(const Object* self, Sel sel, const A&... args) {
  if (!self) {
    if constexpr (std::is_void_v<R>) {
      return;
    } else {
      return R{};
    }
  }
  using Fn = runtime::Canon<R> (*)(Object*, SEL, runtime::Canon<A>...);
  if (auto fn = detail::directImplementation(self, sel, typeid(Fn))) {
    return detail::callDirect<R>(fn, const_cast<Object*>(self), sel, std::index_sequence_for<A...>{},
                                 args...);
  }
  return detail::sendSlow<R>(self, sel, args...);
}

template <class R = void, class T, class... A>
R send(const Ref<T>& self, Sel sel, const A&... args) {
  return send<R>(static_cast<const Object*>(self.get()), sel, args...);
}

}  // namespace ns
