#include "app/youtube/StreamResolver.h"

#include <mutex>

#include "platform/core/NoDestructor.h"

namespace {

struct ResolverSlot {
  std::mutex mutex;
  ns::Ref<StreamResolver> resolver;
};

ResolverSlot& slot() {
  static ns::NoDestructor<ResolverSlot> instance;
  return *instance;
}

}  // namespace

ns::Ref<StreamResolver> StreamResolver::sharedResolver() {
  std::lock_guard<std::mutex> lock(slot().mutex);
  return slot().resolver;
}

ns::Ref<StreamResolver> StreamResolver::setSharedResolver(ns::Ref<StreamResolver> resolver) {
  std::lock_guard<std::mutex> lock(slot().mutex);
  std::swap(slot().resolver, resolver);
  return resolver;
}
