#pragma once
// A selector chosen by a caller: the selector's name (printed in comments and stored in
// properties such as "sel") and the member function it stands for. The function takes the target
// first, so one selector serves any delegate of the right class, as a selector does.
//
//   auto sel = CallbackSelector<void(const ns::Ref<NetHTTPFetcher>&, const std::optional<ns::Data>&,
//                                    const std::optional<ns::Error>&)>::of(
//       "fetcher:finishedWithData:error:", &MyDelegate::fetcher_finishedWithData_error);
//   sel(*delegate, fetcher, data, error);
#include <functional>
#include <string>
#include <utility>

#include "platform/core/Exception.h"
#include "platform/core/Object.h"

template <class Signature>
class CallbackSelector;

template <class R, class... Args>
class CallbackSelector<R(Args...)> {
 public:
  using Function = std::function<R(ns::Object& target, Args...)>;

  CallbackSelector() = default;
  CallbackSelector(std::string name, Function function)
      : name_(std::move(name)), function_(std::move(function)) {}

  // A member function of T. Sent to a target of another class, it raises as an unrecognised
  // selector does.
  template <class T, class M>
  static CallbackSelector of(std::string name, M T::*method) {
    std::string copy = name;
    return CallbackSelector(std::move(name), [method, copy](ns::Object& target, Args... args) -> R {
      auto* typed = dynamic_cast<T*>(&target);
      if (!typed)
        throw ns::Exception("NSInvalidArgumentException", "-[" + target.className() + " " + copy +
                                                              "]: unrecognized selector sent to instance");
      return (typed->*method)(std::forward<Args>(args)...);
    });
  }

  const std::string& name() const { return name_; }
  explicit operator bool() const { return static_cast<bool>(function_); }
  R operator()(ns::Object& target, Args... args) const {
    return function_(target, std::forward<Args>(args)...);
  }

 private:
  std::string name_;
  Function function_;
};
