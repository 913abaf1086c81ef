#pragma once
// Stands between a title-bar window and its real delegate: it places sheets below the custom
// title bar and hands every other message the real delegate answers on to it.
#include "platform/appkit/Geometry.h"
#include "platform/runtime/Invocation.h"
#include "platform/runtime/MethodSignature.h"
#include "platform/runtime/Proxy.h"
#include "platform/runtime/Runtime.h"

namespace ak {
class Window;
}

class TitlebarWindowDelegateProxy : public ns::Proxy {
 public:
  // Not retained.
  ns::Ref<ns::Object> secondaryDelegate() const { return secondaryDelegate_.lock(); }
  void setSecondaryDelegate(const ns::Ref<ns::Object>& delegate) { secondaryDelegate_ = delegate; }

  // What the runtime asks of a forwarding proxy.
  bool respondsToSelector(ns::Sel sel);
  ns::Ref<ns::MethodSignature> methodSignatureForSelector(ns::Sel sel);
  void forwardInvocation(ns::Ref<ns::Invocation> invocation);
  bool isKindOfClass(ns::Class cls);

  // The sheet hangs from the bottom edge of the custom title bar, whatever the real delegate
  // would answer.
  ak::Rect window_willPositionSheet_usingRect(ns::Ref<ak::Window> window, ns::Ref<ak::Window> sheet,
                                              ak::Rect rect);

  std::string className() const override;

 private:
  ns::Weak<ns::Object> secondaryDelegate_;
};
