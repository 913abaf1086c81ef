#pragma once
// Classes registered with the runtime for the runtime's own tests.
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/core/Value.h"
#include "platform/runtime/Invocation.h"
#include "platform/runtime/Proxy.h"
#include "platform/runtime/Runtime.h"

namespace rt_test {

struct CGPoint {
  double x, y;
};
struct CGSize {
  double width, height;
};
struct CGRect {
  CGPoint origin;
  CGSize size;
};

}  // namespace rt_test

PL_STRUCT_ENCODING(rt_test::CGPoint, "{CGPoint=dd}");
PL_STRUCT_ENCODING(rt_test::CGSize, "{CGSize=dd}");
PL_STRUCT_ENCODING(rt_test::CGRect, "{CGRect={CGPoint=dd}{CGSize=dd}}");

namespace rt_test {

class Counter : public ns::Object {
 public:
  long count() const { return count_; }
  void setCount(long count) { count_ = count; }
  void increment() { ++count_; }
  long add_to(long a, long b) { return a + b + count_; }
  ns::BOOL isPositive() const { return count_ > 0 ? ns::YES : ns::NO; }
  char initial() const { return 'K'; }
  double half() const { return count_ / 2.0; }
  CGRect frame() const { return {{1.5, 2.5}, {double(count_), 4.0}}; }
  CGRect offsetFrame_by(CGRect r, CGPoint p) const { return {{r.origin.x + p.x, r.origin.y + p.y}, r.size}; }
  ns::Ref<ns::Object> me() { return shared_from_this(); }
  std::string label() const { return "counter"; }
  void fail() { throw std::runtime_error("failed inside a method"); }
  static ns::BOOL resolveInstanceMethod(ns::Sel sel);

  static int resolveCalls;

 private:
  long count_ = 0;
};

class SubCounter : public Counter {
 public:
  long doubled() const { return count() * 2; }
};

// An unregistered C++ subclass: the runtime treats it as a SubCounter.
class PlainSubCounter : public SubCounter {};

// Answers everything it does not know by handing it to its target.
class ForwardingProxy : public ns::Proxy {
 public:
  ns::Ref<ns::Object> target;
  ns::Ref<ns::Object> forwardingTargetForSelector(ns::Sel) { return target; }
};

// Records the messages it receives, answering them with the signatures of a model class.
class RecordingProxy : public ns::Proxy {
 public:
  ns::Class model = nullptr;
  std::vector<ns::Ref<ns::Invocation>> recorded;
  ns::Ref<ns::MethodSignature> methodSignatureForSelector(ns::Sel sel);
  void forwardInvocation(ns::Ref<ns::Invocation> invocation);
};

// What the +load and +initialize hooks of the test classes did, in order.
std::vector<std::string>& hookEvents();

class RTCache : public ns::Object {};

class Video : public ns::Object {
 public:
  std::string title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  int count() const { return count_; }
  // Announces its own changes; automaticallyNotifiesObserversForKey: answers NO for "count".
  void setCount(int count);
  ns::Ref<RTCache> delegate() const { return delegate_.lock(); }
  void setDelegate(ns::Ref<RTCache> delegate) { delegate_ = delegate; }
  bool isFinished() const { return finished_; }
  void setFinished(bool finished) { finished_ = finished; }
  double rating() const { return 4.5; }
  ns::Ref<Video> related() const { return related_; }
  void setRelated(ns::Ref<Video> related) { related_ = std::move(related); }
  std::optional<std::string> subtitle() const { return subtitle_; }
  void setSubtitle(std::optional<std::string> s) { subtitle_ = std::move(s); }
  static ns::BOOL automaticallyNotifiesObserversForKey(std::string key) {
    return key == "count" ? ns::NO : ns::YES;
  }

 private:
  std::string title_;
  int count_ = 0;
  ns::Weak<RTCache> delegate_;
  bool finished_ = false;
  ns::Ref<Video> related_;
  std::optional<std::string> subtitle_;
};

class Observer : public ns::Object {
 public:
  struct Seen {
    std::string keyPath;
    ns::Ref<ns::Object> object;
    ns::Dictionary change;
    void* context;
  };
  std::vector<Seen> seen;
  void observeValueForKeyPath_ofObject_change_context(std::string keyPath, ns::Ref<ns::Object> object,
                                                      ns::Dictionary change, void* context) {
    seen.push_back({std::move(keyPath), std::move(object), std::move(change), context});
  }
};

class LazyBase : public ns::Object {
 public:
  void ping() {}
};
class LazySub : public LazyBase {};

}  // namespace rt_test
