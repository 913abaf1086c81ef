#pragma once
// A system library opened on its first use instead of being linked: a library that brings many
// of its own costs every start their loading and linking before main(), which a feature used
// later (the media engine, the web engine) need not make the first window wait for.
#include <atomic>
#include <mutex>

namespace ns {

class LazyLibrary {
 public:
  // `fileName` as the dynamic loader finds it ("libmpv.so.2"); `what` names it in the log line of
  // a library that cannot be opened.
  LazyLibrary(const char* fileName, const char* what) : fileName_(fileName), what_(what) {}
  LazyLibrary(const LazyLibrary&) = delete;
  LazyLibrary& operator=(const LazyLibrary&) = delete;

  // Opens the library once (from any thread; later calls answer at once); whether it is open.
  bool load();
  // The function `name`. A definition the process puts before its libraries (LD_PRELOAD) wins,
  // as it would over a linked library; else the library's own (opening it); nullptr without it.
  void* function(const char* name);

 private:
  const char* fileName_;
  const char* what_;
  std::once_flag once_;
  std::atomic<void*> handle_{nullptr};
};

}  // namespace ns

// Defines `name`, as the library's header declares it, forwarding to the library's function,
// which is resolved once; without one it answers `fallback`. For a file that stands in for
// linking the library.
#define PL_LAZY_FORWARD(library, type, name, fallback, parameters, arguments)                 \
  extern "C" type name parameters {                                                           \
    static auto* const real = reinterpret_cast<decltype(::name)*>((library).function(#name)); \
    if (!real) return fallback;                                                               \
    return real arguments;                                                                    \
  }
#define PL_LAZY_FORWARD_VOID(library, name, parameters, arguments)                            \
  extern "C" void name parameters {                                                           \
    static auto* const real = reinterpret_cast<decltype(::name)*>((library).function(#name)); \
    if (real) real arguments;                                                                 \
  }
