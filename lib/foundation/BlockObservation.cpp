#include "lib/foundation/BlockObservation.h"

#include <algorithm>
#include <map>

#include "platform/foundation/ProcessInfo.h"
#include "platform/runtime/AssociatedObjects.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/KeyValueObserving.h"

namespace {

// The observation context of every block observer: deliveries with another context are not ours.
char kObservationContext;
// The associated table of an observed object, and the mark that its destruction hook is in place.
char kObserverBlocksKey;
char kDestructionHookKey;

class ObjectLock {
 public:
  explicit ObjectLock(const ns::Object* object) : object_(object) { ns::objc_sync_enter(object_); }
  ~ObjectLock() { ns::objc_sync_exit(object_); }
  ObjectLock(const ObjectLock&) = delete;
  ObjectLock& operator=(const ObjectLock&) = delete;

 private:
  const ns::Object* object_;
};

class ObserverTable : public ns::Object {
 public:
  std::map<std::string, ns::Ref<BlockObserver>> observers;
};

ns::Ref<ObserverTable> tableOf(const ns::Object* object) {
  return std::dynamic_pointer_cast<ObserverTable>(ns::objc_getAssociatedObject(object, &kObserverBlocksKey));
}

void setTable(const ns::Object* object, const ns::Ref<ObserverTable>& table) {
  ns::objc_setAssociatedObject(object, &kObserverBlocksKey, table, ns::OBJC_ASSOCIATION_RETAIN_NONATOMIC);
}

// An observed object removes its block observers before it goes, once per object; this stands
// in for replacing the class's deallocation.
void ensureDestructionHook(const ns::Object* object) {
  ObjectLock lock(object);
  if (ns::objc_getAssociatedObject(object, &kDestructionHookKey)) return;
  ns::objc_setAssociatedObject(object, &kDestructionHookKey, ns::make<ns::Object>(),
                               ns::OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  ns::objc_addDestructionCallback(
      object, [](ns::Object* dying) { ObjectBlockObservation::removeAllBlockObservers(dying); });
}

std::string newIdentifier() {
  return ns::ProcessInfo::processInfo()->globallyUniqueString();
}

}  // namespace

PL_CLASS_NAMED(BlockObserver, "BlockObserver", ns::Object) {
  cls.method<&BlockObserver::observeValueForKeyPath_ofObject_change_context>(
      "observeValueForKeyPath:ofObject:change:context:");
}

ns::Ref<BlockObserver> BlockObserver::initWithObservee_keyPaths_options_context_task(
    const ns::Object* observee, std::vector<std::string> keyPaths, unsigned long options, int context,
    Task task) {
  auto observer = ns::make<BlockObserver>();
  observer->observee_ = observee;
  observer->keyPaths_ = std::move(keyPaths);
  observer->context_ = context;
  observer->task_ = std::move(task);
  observer->startObservingWithOptions(options);
  return observer;
}

BlockObserver::~BlockObserver() {
  try {
    stopObserving();
  } catch (...) {
    // Nothing is left to unregister; a destructor must not throw.
  }
}

void BlockObserver::startObservingWithOptions(unsigned long options) {
  std::vector<std::string> paths;
  const ns::Object* observee;
  {
    ObjectLock lock(this);
    paths = keyPaths_;
    observee = observee_;
  }
  if (!observee) return;
  auto self = this->self<BlockObserver>();
  for (const auto& path : paths)
    ns::addObserver_forKeyPath_options_context(observee, self, path, options, &kObservationContext);
}

void BlockObserver::stopObservingKeyPath(const std::string& keyPath) {
  const ns::Object* observee = nullptr;
  {
    ObjectLock lock(this);
    auto it = std::find(keyPaths_.begin(), keyPaths_.end(), keyPath);
    if (it == keyPaths_.end() || !observee_) return;
    observee = observee_;
    keyPaths_.erase(it);
    if (keyPaths_.empty()) {
      task_ = nullptr;
      observee_ = nullptr;
    }
  }
  ns::removeObserver_forKeyPath_context(observee, this, keyPath, &kObservationContext);
}

void BlockObserver::stopObserving() {
  const ns::Object* observee;
  std::vector<std::string> paths;
  Task doomed;  // released after the lock
  {
    ObjectLock lock(this);
    if (!observee_) return;
    doomed = std::move(task_);
    task_ = nullptr;
    observee = observee_;
    paths.swap(keyPaths_);
    observee_ = nullptr;
  }
  for (const auto& path : paths)
    ns::removeObserver_forKeyPath_context(observee, this, path, &kObservationContext);
}

void BlockObserver::observeValueForKeyPath_ofObject_change_context(std::string keyPath,
                                                                   ns::Ref<ns::Object> object,
                                                                   ns::Dictionary change, void* context) {
  if (context != &kObservationContext) return;
  // Held for the delivery: a task may remove its own observer, and with it the last reference.
  auto keep = self<BlockObserver>();
  ObjectLock lock(this);
  Task task = task_;
  if (!task) return;
  static const std::string noKeyPath;
  static const ns::Dictionary noChange;
  switch (context_) {
    case 0:
      task(object, noKeyPath, noChange);
      break;
    case 1:
      task(object, noKeyPath, change);
      break;
    case 2:
      task(object, keyPath, noChange);
      break;
    default:
      task(object, keyPath, change);
      break;
  }
}

const ns::Object* BlockObserver::observee() const {
  ObjectLock lock(this);
  return observee_;
}

std::vector<std::string> BlockObserver::keyPaths() const {
  ObjectLock lock(this);
  return keyPaths_;
}

BlockObserver::Task BlockObserver::task() const {
  ObjectLock lock(this);
  return task_;
}

std::string ObjectBlockObservation::addObserverForKeyPath_task(const ns::Object* object,
                                                               const std::string& keyPath, ObjectTask task) {
  std::string identifier = newIdentifier();
  blk_addObserverForKeyPaths_identifier_options_context_task(
      object, {keyPath}, identifier, 0, 0,
      [task = std::move(task)](const ns::Ref<ns::Object>& o, const std::string&, const ns::Dictionary&) {
        task(o);
      });
  return identifier;
}

std::string ObjectBlockObservation::addObserverForKeyPaths_task(const ns::Object* object,
                                                                const std::vector<std::string>& keyPaths,
                                                                KeyPathTask task) {
  std::string identifier = newIdentifier();
  blk_addObserverForKeyPaths_identifier_options_context_task(
      object, keyPaths, identifier, 0, 2,
      [task = std::move(task)](const ns::Ref<ns::Object>& o, const std::string& path, const ns::Dictionary&) {
        task(o, path);
      });
  return identifier;
}

std::string ObjectBlockObservation::addObserverForKeyPath_options_task(const ns::Object* object,
                                                                       const std::string& keyPath,
                                                                       unsigned long options,
                                                                       ChangeTask task) {
  std::string identifier = newIdentifier();
  addObserverForKeyPath_identifier_options_task(object, keyPath, identifier, options, std::move(task));
  return identifier;
}

std::string ObjectBlockObservation::addObserverForKeyPaths_options_task(
    const ns::Object* object, const std::vector<std::string>& keyPaths, unsigned long options,
    KeyPathChangeTask task) {
  std::string identifier = newIdentifier();
  addObserverForKeyPaths_identifier_options_task(object, keyPaths, identifier, options, std::move(task));
  return identifier;
}

void ObjectBlockObservation::addObserverForKeyPath_identifier_options_task(const ns::Object* object,
                                                                           const std::string& keyPath,
                                                                           const std::string& identifier,
                                                                           unsigned long options,
                                                                           ChangeTask task) {
  blk_addObserverForKeyPaths_identifier_options_context_task(
      object, {keyPath}, identifier, options, options ? 1 : 0,
      [task = std::move(task)](const ns::Ref<ns::Object>& o, const std::string&,
                               const ns::Dictionary& change) { task(o, change); });
}

void ObjectBlockObservation::addObserverForKeyPaths_identifier_options_task(
    const ns::Object* object, const std::vector<std::string>& keyPaths, const std::string& identifier,
    unsigned long options, KeyPathChangeTask task) {
  blk_addObserverForKeyPaths_identifier_options_context_task(
      object, keyPaths, identifier, options, options ? 3 : 2,
      [task = std::move(task)](const ns::Ref<ns::Object>& o, const std::string& path,
                               const ns::Dictionary& change) { task(o, path, change); });
}

void ObjectBlockObservation::blk_addObserverForKeyPaths_identifier_options_context_task(
    const ns::Object* object, const std::vector<std::string>& keyPaths, const std::string& identifier,
    unsigned long options, int context, BlockObserver::Task task) {
  if (!object || keyPaths.empty() || !task) return;
  ensureDestructionHook(object);
  auto observer = BlockObserver::initWithObservee_keyPaths_options_context_task(object, keyPaths, options,
                                                                                context, std::move(task));
  ns::Ref<BlockObserver> replaced;
  {
    ObjectLock lock(object);
    auto table = tableOf(object);
    if (!table) {
      table = ns::make<ObserverTable>();
      setTable(object, table);
    }
    auto& slot = table->observers[identifier];
    replaced = std::move(slot);
    slot = observer;
  }
  // A replaced observer would otherwise go on observing with nobody able to remove it.
  if (replaced) replaced->stopObserving();
}

void ObjectBlockObservation::removeObserverForKeyPath_identifier(const ns::Object* object,
                                                                 const std::string& keyPath,
                                                                 const std::string& identifier) {
  if (!object) return;
  ns::Ref<BlockObserver> observer;
  {
    ObjectLock lock(object);
    auto table = tableOf(object);
    if (!table) return;
    auto it = table->observers.find(identifier);
    if (it == table->observers.end()) return;
    observer = it->second;
  }
  observer->stopObservingKeyPath(keyPath);
  if (!observer->keyPaths().empty()) return;
  ObjectLock lock(object);
  auto table = tableOf(object);
  if (!table) return;
  auto it = table->observers.find(identifier);
  if (it != table->observers.end() && it->second == observer) table->observers.erase(it);
  if (table->observers.empty()) setTable(object, nullptr);
}

void ObjectBlockObservation::removeObserversWithIdentifier(const ns::Object* object,
                                                           const std::string& identifier) {
  if (!object) return;
  ns::Ref<BlockObserver> observer;
  {
    ObjectLock lock(object);
    auto table = tableOf(object);
    if (!table) return;
    auto it = table->observers.find(identifier);
    if (it == table->observers.end()) return;
    observer = std::move(it->second);
    table->observers.erase(it);
    if (table->observers.empty()) setTable(object, nullptr);
  }
  observer->stopObserving();
}

void ObjectBlockObservation::removeAllBlockObservers(const ns::Object* object) {
  if (!object) return;
  std::map<std::string, ns::Ref<BlockObserver>> observers;
  {
    ObjectLock lock(object);
    auto table = tableOf(object);
    if (!table) return;
    observers.swap(table->observers);
    setTable(object, nullptr);
  }
  for (auto& [identifier, observer] : observers) observer->stopObserving();
}

std::map<std::string, ns::Ref<BlockObserver>> ObjectBlockObservation::blk_observerBlocks(
    const ns::Object* object) {
  if (!object) return {};
  ObjectLock lock(object);
  auto table = tableOf(object);
  return table ? table->observers : std::map<std::string, ns::Ref<BlockObserver>>{};
}
