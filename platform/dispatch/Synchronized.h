#pragma once
// ns::synchronized: a recursive lock per object, for the places that lock "on an object".
//
//   ns::synchronized(this, [&] { ... });
//   { ns::Synchronized guard(this); ... }
//
// Locks live in a striped table: each stripe guards the records of the objects hashed to it, and
// every object gets its own recursive mutex, so two unrelated objects never share a lock (which
// could deadlock callers that nest them in different orders). A record is freed when no thread
// holds or waits for it.
#include <utility>

namespace ns {

class Synchronized {
 public:
  explicit Synchronized(const void* object);
  ~Synchronized();
  Synchronized(const Synchronized&) = delete;
  Synchronized& operator=(const Synchronized&) = delete;

 private:
  const void* object_;
  void* record_;
};

template <class F>
decltype(auto) synchronized(const void* object, F&& body) {
  Synchronized guard(object);
  return std::forward<F>(body)();
}

}  // namespace ns
