#pragma once
// Runs a block exactly once per flag, even when many threads ask at once; the others wait.
#include <mutex>

namespace dispatch {

using OnceFlag = std::once_flag;

template <class F>
void once(OnceFlag& flag, F&& block) {
  std::call_once(flag, std::forward<F>(block));
}

}  // namespace dispatch
