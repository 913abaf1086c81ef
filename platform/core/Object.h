#pragma once
// Base of the shared, reference-counted objects of the system, and the ownership vocabulary:
// Ref is a strong reference, Weak a weak one, make creates a shared object.
#include <cstddef>
#include <memory>
#include <string>
#include <utility>

namespace ns {

template <class T>
using Ref = std::shared_ptr<T>;
template <class T>
using Weak = std::weak_ptr<T>;

template <class T, class... Args>
Ref<T> make(Args&&... args) {
  return std::make_shared<T>(std::forward<Args>(args)...);
}

class Object;
namespace detail {
// Set once by the runtime at start-up; told when an object dies (its associations and observers).
extern void (*objectDestroyedHook)(Object*);
}  // namespace detail

class Object : public std::enable_shared_from_this<Object> {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object();

  // The class name as the system reports it ("MainWindowController"); by default the C++ name.
  virtual std::string className() const;
  // What "%@" prints: "<ClassName: 0x...>" unless a class says otherwise.
  virtual std::string description() const;
  // Identity unless a class defines value equality; equal objects must hash alike.
  virtual bool isEqual(const Object* other) const { return this == other; }
  virtual std::size_t hash() const { return reinterpret_cast<std::size_t>(this); }

  // Typed strong and weak references to this object; it must be owned by a Ref.
  template <class T>
  Ref<T> self() {
    return std::static_pointer_cast<T>(shared_from_this());
  }
  template <class T>
  Ref<const T> self() const {
    return std::static_pointer_cast<const T>(shared_from_this());
  }
  template <class T>
  Weak<T> weakSelf() {
    return std::static_pointer_cast<T>(shared_from_this());
  }
};

}  // namespace ns
