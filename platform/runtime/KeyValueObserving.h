#pragma once
// Key-value observation for properties that opt in. A change is announced by
// willChangeValueForKey/didChangeValueForKey: a class calls them around its setter, or lets
// setValue:forKey: do it (automaticallyNotifiesObserversForKey: answers YES unless the class
// registers a class method answering NO). Setters called directly, or sent through the runtime,
// announce nothing by themselves. Observers are held weakly and receive
// observeValueForKeyPath:ofObject:change:context: (a std::string, the object, an ns::Dictionary
// and the context pointer).
#include <string>
#include <string_view>

#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/runtime/TypeCodec.h"

namespace ns {

enum NSKeyValueObservingOptions : unsigned long {
  NSKeyValueObservingOptionNew = 0x01,
  NSKeyValueObservingOptionOld = 0x02,
  NSKeyValueObservingOptionInitial = 0x04,
  NSKeyValueObservingOptionPrior = 0x08,
};

enum NSKeyValueChange : unsigned long {
  NSKeyValueChangeSetting = 1,
  NSKeyValueChangeInsertion = 2,
  NSKeyValueChangeRemoval = 3,
  NSKeyValueChangeReplacement = 4,
};

inline constexpr char NSKeyValueChangeKindKey[] = "kind";
inline constexpr char NSKeyValueChangeNewKey[] = "new";
inline constexpr char NSKeyValueChangeOldKey[] = "old";
inline constexpr char NSKeyValueChangeIndexesKey[] = "indexes";
inline constexpr char NSKeyValueChangeNotificationIsPriorKey[] = "notificationIsPrior";

void addObserver_forKeyPath_options_context(const Object* observed, const Ref<Object>& observer,
                                            std::string_view keyPath, unsigned long options, void* context);
// Remove the most recent matching registration; none raises NSRangeException.
void removeObserver_forKeyPath(const Object* observed, const Object* observer, std::string_view keyPath);
void removeObserver_forKeyPath_context(const Object* observed, const Object* observer,
                                       std::string_view keyPath, void* context);
void willChangeValueForKey(const Object* object, std::string_view key);
void didChangeValueForKey(const Object* object, std::string_view key);
// Whether anything observes a key path of the object.
bool hasObservers(const Object* object);

// Announces a change for the lifetime of the scope: will at construction, did at destruction.
class KeyValueChange {
 public:
  KeyValueChange(const Object* object, std::string key) : object_(object), key_(std::move(key)) {
    willChangeValueForKey(object_, key_);
  }
  ~KeyValueChange() { didChangeValueForKey(object_, key_); }
  KeyValueChange(const KeyValueChange&) = delete;
  KeyValueChange& operator=(const KeyValueChange&) = delete;

 private:
  const Object* object_;
  std::string key_;
};

namespace runtime {
void registerKeyValueObserving(Class objectClass);
}

}  // namespace ns
