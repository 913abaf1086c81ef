#include "platform/core/LazyLibrary.h"

#include <dlfcn.h>

#include <string>

#include "platform/core/Log.h"

namespace ns {

bool LazyLibrary::load() {
  std::call_once(once_, [this] {
    // Its own namespace: nothing else in the process binds to its symbols by accident.
    void* library = dlopen(fileName_, RTLD_NOW | RTLD_LOCAL);
    if (!library) ns::LogError("cannot open the %s: %s", std::string(what_), std::string(dlerror()));
    handle_ = library;
  });
  return handle_.load() != nullptr;
}

void* LazyLibrary::function(const char* name) {
  // The objects after this one in the process's lookup order: what LD_PRELOAD put there. The
  // library itself, opened with its own namespace, is not among them.
  if (void* interposed = dlsym(RTLD_NEXT, name)) return interposed;
  return load() ? dlsym(handle_.load(), name) : nullptr;
}

}  // namespace ns
