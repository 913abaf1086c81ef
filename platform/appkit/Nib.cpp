#include "platform/appkit/Nib.h"

#include <map>
#include <mutex>
#include <set>

#include "platform/appkit/Responder.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"

namespace ak {

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, Nib::Builder> builders;
};

Registry& registry() {
  static ns::NoDestructor<Registry> r;
  return *r;
}

void sendAwake(const ns::Ref<ns::Object>& object) {
  if (auto responder = std::dynamic_pointer_cast<Responder>(object)) {
    responder->awakeFromNib();
    return;
  }
  static const ns::Sel awakeSel("awakeFromNib");
  if (ns::respondsToSelector(object, awakeSel)) ns::send(object, awakeSel);
}

}  // namespace

void NibLoader::connect() {
  auto connections = std::move(connections_);
  connections_.clear();
  for (auto& c : connections) c();
}

void NibLoader::awake() {
  std::set<const ns::Object*> awoken;
  if (owner_) awoken.insert(owner_.get());  // the owner wakes last
  for (const auto& object : objects_) {
    if (awoken.insert(object.get()).second) sendAwake(object);
  }
  if (owner_) sendAwake(owner_);
}

void Nib::registerBuilder(const std::string& name, Builder builder) {
  std::lock_guard lock(registry().mutex);
  registry().builders[name] = std::move(builder);
}

void Nib::unregisterBuilder(const std::string& name) {
  std::lock_guard lock(registry().mutex);
  registry().builders.erase(name);
}

bool Nib::hasBuilder(const std::string& name) {
  std::lock_guard lock(registry().mutex);
  return registry().builders.count(name) != 0;
}

bool Nib::loadNibNamed_owner_topLevelObjects(const std::string& name, const ns::Ref<ns::Object>& owner,
                                             std::vector<ns::Ref<ns::Object>>* topLevelObjects) {
  Builder builder;
  {
    std::lock_guard lock(registry().mutex);
    auto it = registry().builders.find(name);
    if (it != registry().builders.end()) builder = it->second;
  }
  if (!builder) {
    ns::LogError("Nib: no interface is registered under the name \"%s\"", name.c_str());
    return false;
  }
  NibLoader loader(owner);
  builder(loader);
  loader.connect();
  loader.awake();
  if (topLevelObjects) *topLevelObjects = loader.topLevelObjects();
  return true;
}

}  // namespace ak
