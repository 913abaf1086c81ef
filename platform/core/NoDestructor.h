#pragma once

#include <new>
#include <utility>

namespace ns {

// Holds a process-wide object that is built on first use and never destroyed. Other threads
// (queue workers, the URL loading engine, exit handlers) may still use such an object while
// the process exits, after static destructors have run; an object that is never destroyed
// cannot be used after its destruction.
template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;
  ~NoDestructor() = default;  // deliberately leaves the held object alive

  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }
  const T& get() const { return *std::launder(reinterpret_cast<const T*>(storage_)); }
  T& operator*() { return get(); }
  const T& operator*() const { return get(); }
  T* operator->() { return &get(); }
  const T* operator->() const { return &get(); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace ns
