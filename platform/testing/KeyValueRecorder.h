#pragma once
// Records key-value observation changes for tests: which key paths changed, on which thread,
// and the "new" values.
//
//   auto recorder = pltest::KeyValueRecorder::observe(item.get(), {"status", "duration"});
//   ...
//   EXPECT_TRUE(recorder->allOnMainThread());
//   EXPECT_GE(recorder->count("status"), 1u);
//   recorder->stop();   // or let it go: it stops observing when destroyed
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace pltest {

class KeyValueRecorder : public ns::Object {
 public:
  struct Change {
    std::string keyPath;
    ns::Value newValue;
    bool onMainThread = false;
  };

  // Observes each key path of `object` with the "new" option. The object must outlive the
  // recorder or the recorder must be stopped first.
  static ns::Ref<KeyValueRecorder> observe(const ns::Object* object, std::vector<std::string> keyPaths);
  ~KeyValueRecorder() override;
  void stop();

  std::vector<Change> changes() const;
  std::size_t count(const std::string& keyPath) const;
  bool allOnMainThread() const;

  void observeValueForKeyPath_ofObject_change_context(std::string keyPath, ns::Ref<ns::Object> object,
                                                      ns::Dictionary change, void* context);
  std::string className() const override { return "PLTestKeyValueRecorder"; }

 private:
  const ns::Object* observed_ = nullptr;
  std::vector<std::string> keyPaths_;
  mutable std::mutex lock_;
  std::vector<Change> changes_;
};

}  // namespace pltest
