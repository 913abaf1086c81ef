#pragma once
// Free lists for the hub's per-record objects. Records are made and freed a batch at a time, often
// on different threads (a logger keeps a record, the logging queue frees those of a thread that
// ended): through malloc, a freed batch overflows the thread's small cache and every further free
// takes the arena's lock, against the lock taken by the next records made from that arena. Here
// each thread keeps its own list of free nodes and trades them with a shared depot a magazine (a
// linked run of kMagazine nodes) at a time, so the lock is taken once per that many records.
// A thread keeps up to kLocalMagazines of them: a thread that logs steadily frees its delivered
// records a few hundred at a time and takes those nodes again, still in its processor's cache,
// where a node from the depot was last written on another processor and every take would wait
// for its line.
//
// Nodes are never handed back to malloc while the process runs: the pool holds at most the peak
// number of live nodes plus kLocalMagazines + 1 magazines per thread. A thread's nodes go to the
// depot when it ends; a node used after its thread's list was destroyed (from an exit handler) is
// plain new/delete.
#include <cstddef>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/core/NoDestructor.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace logpool {

// A free raw node is poisoned but for its link, so that the address sanitizer reports a use after
// it went back to the pool as it would one after free(). A node that keeps an object of its own
// between uses (a text and its buffer) stays readable: the leak checker would not find that
// buffer through poisoned memory.
template <class Node>
inline void poisonFree(Node* node) {
#if defined(__SANITIZE_ADDRESS__)
  if constexpr (std::is_trivially_destructible_v<Node>) {
    ASAN_POISON_MEMORY_REGION(node, sizeof(Node));
    ASAN_UNPOISON_MEMORY_REGION(&node->poolNext, sizeof(node->poolNext));
  }
#else
  (void)node;
#endif
}

template <class Node>
inline void unpoison(Node* node) {
#if defined(__SANITIZE_ADDRESS__)
  ASAN_UNPOISON_MEMORY_REGION(node, sizeof(Node));
#else
  (void)node;
#endif
}

inline constexpr int kMagazine = 32;
inline constexpr int kLocalMagazines = 32;

// Node is default-constructible and has a member `Node* poolNext`.
template <class Node>
class Pool {
 public:
  static Node* take() {
    if (Cache::gone) return new Node;
    Cache& cache = localCache();
    if (cache.head == nullptr) {
      cache.head = depotTake();
      cache.count = cache.head ? kMagazine : 0;
      if (cache.head == nullptr) return new Node;
    }
    Node* node = cache.head;
    cache.head = node->poolNext;
    --cache.count;
    unpoison(node);
    return node;
  }

  static void give(Node* node) {
    if (Cache::gone) {
      delete node;
      return;
    }
    Cache& cache = localCache();
    node->poolNext = cache.head;
    poisonFree(node);
    cache.head = node;
    if (++cache.count < (kLocalMagazines + 1) * kMagazine) return;
    // Keep the newest magazine, the one most likely still in this processor's cache, and the
    // oldest ones; hand the second to the depot.
    Node* kept = cache.head;
    for (int i = 1; i < kMagazine; ++i) kept = kept->poolNext;
    Node* magazine = kept->poolNext;
    Node* last = magazine;
    for (int i = 1; i < kMagazine; ++i) last = last->poolNext;
    kept->poolNext = last->poolNext;
    last->poolNext = nullptr;
    cache.count -= kMagazine;
    depotGive(magazine);
  }

  // Nodes in the depot (for tests).
  static std::size_t depotSize() {
    Depot& d = depot();
    std::lock_guard lock(d.mutex);
    return d.magazines.size() * kMagazine;
  }

 private:
  struct Depot {
    std::mutex mutex;
    std::vector<Node*> magazines;  // each a run of exactly kMagazine nodes
  };

  struct Cache {
    Node* head = nullptr;
    int count = 0;
    ~Cache() {
      gone = true;
      // Whole magazines go to the depot; what does not fill one is freed.
      while (count >= kMagazine) {
        Node* magazine = head;
        Node* last = head;
        for (int i = 1; i < kMagazine; ++i) last = last->poolNext;
        head = last->poolNext;
        last->poolNext = nullptr;
        count -= kMagazine;
        depotGive(magazine);
      }
      while (head) {
        Node* node = std::exchange(head, head->poolNext);
        unpoison(node);
        delete node;
      }
    }
    // Trivially destructible, so still readable after the thread's Cache was destroyed.
    static thread_local bool gone;
  };

  static Cache& localCache() {
    thread_local Cache cache;
    return cache;
  }

  // Records are still freed while the process exits: never destroyed.
  static Depot& depot() {
    static ns::NoDestructor<Depot> instance;
    return *instance;
  }

  static Node* depotTake() {
    Depot& d = depot();
    std::lock_guard lock(d.mutex);
    if (d.magazines.empty()) return nullptr;
    Node* magazine = d.magazines.back();
    d.magazines.pop_back();
    return magazine;
  }

  static void depotGive(Node* magazine) {
    Depot& d = depot();
    std::lock_guard lock(d.mutex);
    d.magazines.push_back(magazine);
  }
};

template <class Node>
thread_local bool Pool<Node>::Cache::gone = false;

// Raw storage of one object of a given size.
template <std::size_t Size, std::size_t Align>
union RawNode {
  RawNode* poolNext;
  alignas(Align) unsigned char bytes[Size];
};

// An allocator for std::allocate_shared and the like: single objects come from the pool of their
// size, arrays from operator new.
template <class T>
struct Allocator {
  using value_type = T;
  using Node = RawNode<sizeof(T), alignof(T)>;

  Allocator() = default;
  template <class U>
  Allocator(const Allocator<U>&) {}

  T* allocate(std::size_t n) {
    if (n == 1) return reinterpret_cast<T*>(Pool<Node>::take());
    return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(alignof(T))));
  }
  void deallocate(T* p, std::size_t n) {
    if (n == 1) {
      Pool<Node>::give(reinterpret_cast<Node*>(p));
      return;
    }
    ::operator delete(p, std::align_val_t(alignof(T)));
  }

  template <class U>
  bool operator==(const Allocator<U>&) const {
    return true;
  }
};

}  // namespace logpool
