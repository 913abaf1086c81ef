#include "platform/testing/KeyValueRecorder.h"

#include "platform/runloop/Thread.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/KeyValueObserving.h"

namespace pltest {

PL_CLASS_NAMED(KeyValueRecorder, "PLTestKeyValueRecorder", ns::Object) {
  cls.method<&KeyValueRecorder::observeValueForKeyPath_ofObject_change_context>(
      "observeValueForKeyPath:ofObject:change:context:");
}

ns::Ref<KeyValueRecorder> KeyValueRecorder::observe(const ns::Object* object,
                                                    std::vector<std::string> keyPaths) {
  auto recorder = ns::make<KeyValueRecorder>();
  recorder->observed_ = object;
  recorder->keyPaths_ = std::move(keyPaths);
  for (auto& path : recorder->keyPaths_)
    ns::addObserver_forKeyPath_options_context(object, recorder, path, ns::NSKeyValueObservingOptionNew,
                                               nullptr);
  return recorder;
}

KeyValueRecorder::~KeyValueRecorder() {
  stop();
}

void KeyValueRecorder::stop() {
  if (!observed_) return;
  for (auto& path : keyPaths_) ns::removeObserver_forKeyPath(observed_, this, path);
  observed_ = nullptr;
}

void KeyValueRecorder::observeValueForKeyPath_ofObject_change_context(std::string keyPath,
                                                                      ns::Ref<ns::Object>,
                                                                      ns::Dictionary change, void*) {
  Change c;
  c.keyPath = std::move(keyPath);
  if (auto* v = change.find(ns::Value(ns::NSKeyValueChangeNewKey))) c.newValue = *v;
  c.onMainThread = ns::Thread::isMainThread();
  std::lock_guard guard(lock_);
  changes_.push_back(std::move(c));
}

std::vector<KeyValueRecorder::Change> KeyValueRecorder::changes() const {
  std::lock_guard guard(lock_);
  return changes_;
}

std::size_t KeyValueRecorder::count(const std::string& keyPath) const {
  std::lock_guard guard(lock_);
  std::size_t n = 0;
  for (auto& c : changes_) n += c.keyPath == keyPath;
  return n;
}

bool KeyValueRecorder::allOnMainThread() const {
  std::lock_guard guard(lock_);
  for (auto& c : changes_) {
    if (!c.onMainThread) return false;
  }
  return true;
}

}  // namespace pltest
