#include "platform/dispatch/Synchronized.h"

#include <array>
#include <functional>
#include <mutex>

#include "platform/core/NoDestructor.h"

namespace ns {
namespace {

struct Record {
  const void* object = nullptr;
  std::recursive_mutex mutex;
  int users = 0;  // threads holding or waiting for it
  Record* next = nullptr;
};

struct Stripe {
  std::mutex mutex;
  Record* records = nullptr;
};

constexpr std::size_t kStripes = 64;

Stripe& stripeFor(const void* object) {
  static ns::NoDestructor<std::array<Stripe, kStripes>> stripes;
  auto h = std::hash<const void*>()(object);
  return (*stripes)[(h ^ (h >> 7)) % kStripes];
}

}  // namespace

Synchronized::Synchronized(const void* object) : object_(object), record_(nullptr) {
  if (!object) return;  // locking on nothing locks nothing, as the platform does
  auto& stripe = stripeFor(object);
  Record* record;
  {
    std::lock_guard lock(stripe.mutex);
    for (record = stripe.records; record && record->object != object; record = record->next) {
    }
    if (!record) {
      record = new Record;
      record->object = object;
      record->next = stripe.records;
      stripe.records = record;
    }
    ++record->users;
  }
  record->mutex.lock();
  record_ = record;
}

Synchronized::~Synchronized() {
  if (!record_) return;
  auto* record = static_cast<Record*>(record_);
  record->mutex.unlock();
  auto& stripe = stripeFor(object_);
  std::lock_guard lock(stripe.mutex);
  if (--record->users > 0) return;
  for (Record** link = &stripe.records; *link; link = &(*link)->next) {
    if (*link == record) {
      *link = record->next;
      break;
    }
  }
  delete record;
}

}  // namespace ns
