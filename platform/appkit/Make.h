#pragma once
// Construction as alloc/init: make_shared with the defaults, then the class's initialiser
// (through its `init` overloads: a view's initWithFrame, a window's
// initWithContentRect_styleMask_backing_defer...), so shared_from_this works inside it.
//
//   auto view = ak::make<PlayerView>(ak::MakeRect(0, 0, 300, 200));
//   auto window = ak::make<ak::Window>(rect, ak::TitledWindowMask | ak::ClosableWindowMask);
#include <memory>
#include <utility>

#include "platform/core/Object.h"

namespace ak {

template <class T, class... A>
ns::Ref<T> make(A&&... args) {
  auto object = std::make_shared<T>();
  object->init(std::forward<A>(args)...);
  return object;
}

}  // namespace ak
