#pragma once
// Key-value observation with closures, registered under an identifier and removed by
// identifier, key path or all at once; an observed object's observers are removed before it
// dies. Each observed object keeps its observers in an associated table identifier -> observer.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

class BlockObserver : public ns::Object {
 public:
  // Called with what the observer's context names: 0 the object; 1 the object and the change;
  // 2 the object and the key path; 3 all three. What is not passed comes as empty.
  using Task = std::function<void(const ns::Ref<ns::Object>& object, const std::string& keyPath,
                                  const ns::Dictionary& change)>;

  // Starts observing every key path at once.
  static ns::Ref<BlockObserver> initWithObservee_keyPaths_options_context_task(
      const ns::Object* observee, std::vector<std::string> keyPaths, unsigned long options, int context,
      Task task);
  ~BlockObserver() override;

  void startObservingWithOptions(unsigned long options);
  void stopObservingKeyPath(const std::string& keyPath);
  void stopObserving();
  void observeValueForKeyPath_ofObject_change_context(std::string keyPath, ns::Ref<ns::Object> object,
                                                      ns::Dictionary change, void* context);

  // The observed object's address (not retained); null once stopped.
  const ns::Object* observee() const;
  std::vector<std::string> keyPaths() const;
  int context() const { return context_; }
  Task task() const;
  std::string className() const override { return "BlockObserver"; }

 private:
  const ns::Object* observee_ = nullptr;
  std::vector<std::string> keyPaths_;
  int context_ = 0;
  Task task_;
};

struct ObjectBlockObservation {
  using ObjectTask = std::function<void(ns::Ref<ns::Object> object)>;
  using ChangeTask = std::function<void(ns::Ref<ns::Object> object, ns::Dictionary change)>;
  using KeyPathTask = std::function<void(ns::Ref<ns::Object> object, std::string keyPath)>;
  using KeyPathChangeTask =
      std::function<void(ns::Ref<ns::Object> object, std::string keyPath, ns::Dictionary change)>;

  // The forms without an identifier make one and answer it.
  static std::string addObserverForKeyPath_task(const ns::Object* object, const std::string& keyPath,
                                                ObjectTask task);
  static std::string addObserverForKeyPaths_task(const ns::Object* object,
                                                 const std::vector<std::string>& keyPaths, KeyPathTask task);
  static std::string addObserverForKeyPath_options_task(const ns::Object* object, const std::string& keyPath,
                                                        unsigned long options, ChangeTask task);
  static std::string addObserverForKeyPaths_options_task(const ns::Object* object,
                                                         const std::vector<std::string>& keyPaths,
                                                         unsigned long options, KeyPathChangeTask task);
  static void addObserverForKeyPath_identifier_options_task(const ns::Object* object,
                                                            const std::string& keyPath,
                                                            const std::string& identifier,
                                                            unsigned long options, ChangeTask task);
  static void addObserverForKeyPaths_identifier_options_task(const ns::Object* object,
                                                             const std::vector<std::string>& keyPaths,
                                                             const std::string& identifier,
                                                             unsigned long options, KeyPathChangeTask task);
  // Where the others end. A second registration under an identifier replaces and stops the first.
  static void blk_addObserverForKeyPaths_identifier_options_context_task(
      const ns::Object* object, const std::vector<std::string>& keyPaths, const std::string& identifier,
      unsigned long options, int context, BlockObserver::Task task);

  static void removeObserverForKeyPath_identifier(const ns::Object* object, const std::string& keyPath,
                                                  const std::string& identifier);
  static void removeObserversWithIdentifier(const ns::Object* object, const std::string& identifier);
  static void removeAllBlockObservers(const ns::Object* object);

  // A copy of the object's table identifier -> observer; empty when it has none.
  static std::map<std::string, ns::Ref<BlockObserver>> blk_observerBlocks(const ns::Object* object);
};
