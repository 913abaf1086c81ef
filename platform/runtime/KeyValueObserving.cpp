#include "platform/runtime/KeyValueObserving.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "platform/core/Exception.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/KeyValueCoding.h"
#include "platform/runtime/Raise.h"
#include "platform/runtime/Send.h"
#include "platform/runtime/SideTable.h"

namespace ns {

using runtime::Observance;

namespace {

const Sel kObserve("observeValueForKeyPath:ofObject:change:context:");

std::atomic<std::uint64_t> nextObservanceId{1};

std::string objectText(const Object* object) {
  char buf[64];
  std::snprintf(buf, sizeof buf, " %p>", static_cast<const void*>(object));
  return "<" + NSStringFromClass(object_getClass(object)) + buf;
}

// Whether a change of `key` concerns an observance of `keyPath`: the path is the key itself or
// begins with it.
bool concerns(const std::string& keyPath, std::string_view key) {
  return keyPath == key || (keyPath.size() > key.size() && keyPath.compare(0, key.size(), key) == 0 &&
                            keyPath[key.size()] == '.');
}

Value currentValue(const Object* object, const std::string& keyPath) {
  Value v = valueForKeyPath(object, keyPath);
  return v.isNil() ? Value::null() : v;
}

void deliver(const Observance& o, const Object* observed, const Dictionary& change) {
  Ref<Object> observer = o.observer.lock();
  if (!observer) return;  // observers are weak: a dead one hears nothing
  send<void>(observer, kObserve, o.keyPath, detail::tryRetain(const_cast<Object*>(observed)), change,
             o.context);
}

bool stillRegistered(const std::shared_ptr<runtime::SideState>& state, std::uint64_t id) {
  std::lock_guard guard(state->lock);
  for (auto& o : state->observances) {
    if (o.id == id) return true;
  }
  return false;
}

void removeObservance(const Object* observed, const Object* observer, std::string_view keyPath,
                      bool matchContext, void* context) {
  auto state = runtime::sideState(observed, false);
  if (state) {
    std::lock_guard guard(state->lock);
    auto& list = state->observances;
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
      if (it->observerAddress == observer && it->keyPath == keyPath &&
          (!matchContext || it->context == context)) {
        list.erase(std::next(it).base());
        return;
      }
    }
  }
  runtime::raise(NSRangeException, "Cannot remove an observer " + objectText(observer) +
                                       " for the key path \"" + std::string(keyPath) + "\" from " +
                                       objectText(observed) +
                                       " because it is not registered as an observer.");
}

void observeImpl(Object* self, Sel, std::string keyPath, Ref<Object> object, Dictionary change,
                 void* context) {
  char ctx[32];
  std::snprintf(ctx, sizeof ctx, "%p", context);
  runtime::raise(NSInternalInconsistencyException,
                 objectText(self) +
                     ": An -observeValueForKeyPath:ofObject:change:context: message was "
                     "received but not handled.\nKey path: " +
                     keyPath +
                     "\nObserved object: " + (object ? object->description() : std::string("(null)")) +
                     "\nChange: " + Value(change).description() + "\nContext: " + ctx);
}

void willChangeImpl(Object* self, Sel, std::string key) {
  willChangeValueForKey(self, key);
}
void didChangeImpl(Object* self, Sel, std::string key) {
  didChangeValueForKey(self, key);
}

}  // namespace

void addObserver_forKeyPath_options_context(const Object* observed, const Ref<Object>& observer,
                                            std::string_view keyPath, unsigned long options, void* context) {
  if (!observed || !observer || keyPath.empty()) return;
  Observance o;
  o.id = nextObservanceId.fetch_add(1);
  o.observer = observer;
  o.observerAddress = observer.get();
  o.keyPath = std::string(keyPath);
  o.options = options;
  o.context = context;
  auto state = runtime::sideState(observed, true);
  {
    std::lock_guard guard(state->lock);
    state->observances.push_back(o);
  }
  if (options & NSKeyValueObservingOptionInitial) {
    Dictionary change;
    change.set(Value(NSKeyValueChangeKindKey), Value(static_cast<unsigned long>(NSKeyValueChangeSetting)));
    if (options & NSKeyValueObservingOptionNew)
      change.set(Value(NSKeyValueChangeNewKey), currentValue(observed, o.keyPath));
    deliver(o, observed, change);
  }
}

void removeObserver_forKeyPath(const Object* observed, const Object* observer, std::string_view keyPath) {
  removeObservance(observed, observer, keyPath, false, nullptr);
}

void removeObserver_forKeyPath_context(const Object* observed, const Object* observer,
                                       std::string_view keyPath, void* context) {
  removeObservance(observed, observer, keyPath, true, context);
}

bool hasObservers(const Object* object) {
  auto state = runtime::sideState(object, false);
  if (!state) return false;
  std::lock_guard guard(state->lock);
  return !state->observances.empty();
}

void willChangeValueForKey(const Object* object, std::string_view key) {
  auto state = runtime::sideState(object, false);
  if (!state) return;
  std::vector<Observance> concerned;
  {
    std::lock_guard guard(state->lock);
    for (auto& o : state->observances) {
      if (concerns(o.keyPath, key)) concerned.push_back(o);
    }
  }
  runtime::PendingChange pending;
  pending.key = std::string(key);
  for (auto& o : concerned) {
    Value old = (o.options & NSKeyValueObservingOptionOld) ? currentValue(object, o.keyPath) : Value();
    if (o.options & NSKeyValueObservingOptionPrior) {
      Dictionary change;
      change.set(Value(NSKeyValueChangeKindKey), Value(static_cast<unsigned long>(NSKeyValueChangeSetting)));
      change.set(Value(NSKeyValueChangeNotificationIsPriorKey), Value(true));
      if (o.options & NSKeyValueObservingOptionOld) change.set(Value(NSKeyValueChangeOldKey), old);
      if (stillRegistered(state, o.id)) deliver(o, object, change);
    }
    pending.observances.emplace_back(o, std::move(old));
  }
  std::lock_guard guard(state->lock);
  state->pendingChanges.push_back(std::move(pending));
}

void didChangeValueForKey(const Object* object, std::string_view key) {
  auto state = runtime::sideState(object, false);
  if (!state) return;
  runtime::PendingChange pending;
  {
    std::lock_guard guard(state->lock);
    auto& stack = state->pendingChanges;
    auto it = std::find_if(stack.rbegin(), stack.rend(), [&](auto& p) { return p.key == key; });
    if (it == stack.rend()) return;  // a did without its will announces nothing
    pending = std::move(*it);
    stack.erase(std::next(it).base());
  }
  for (auto& [o, old] : pending.observances) {
    if (!stillRegistered(state, o.id)) continue;
    Dictionary change;
    change.set(Value(NSKeyValueChangeKindKey), Value(static_cast<unsigned long>(NSKeyValueChangeSetting)));
    if (o.options & NSKeyValueObservingOptionNew)
      change.set(Value(NSKeyValueChangeNewKey), currentValue(object, o.keyPath));
    if (o.options & NSKeyValueObservingOptionOld) change.set(Value(NSKeyValueChangeOldKey), old);
    deliver(o, object, change);
  }
}

void runtime::registerKeyValueObserving(Class objectClass) {
  ClassBuilder<Object> cls(objectClass);
  cls.method<&observeImpl>(kObserve);
  cls.method<&willChangeImpl>("willChangeValueForKey:");
  cls.method<&didChangeImpl>("didChangeValueForKey:");
}

}  // namespace ns
