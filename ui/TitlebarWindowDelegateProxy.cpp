#include "ui/TitlebarWindowDelegateProxy.h"

#include <algorithm>

#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"
#include "ui/TitlebarWindow.h"

namespace {

const ns::Sel kWillPositionSheet("window:willPositionSheet:usingRect:");

}  // namespace

// Out of line, so that the class (and its runtime registration) is linked wherever it is made.
std::string TitlebarWindowDelegateProxy::className() const {
  return "TitlebarWindowDelegateProxy";
}

bool TitlebarWindowDelegateProxy::respondsToSelector(ns::Sel sel) {
  if (sel == kWillPositionSheet) return true;
  auto secondary = secondaryDelegate();
  return secondary && ns::respondsToSelector(secondary, sel);
}

ns::Ref<ns::MethodSignature> TitlebarWindowDelegateProxy::methodSignatureForSelector(ns::Sel sel) {
  if (auto secondary = secondaryDelegate()) {
    if (auto method = ns::class_getInstanceMethod(ns::object_getClass(secondary), sel))
      return ns::MethodSignature::signatureWithObjCTypes(ns::method_getTypeEncoding(method));
  }
  // A message the real delegate lacks still gets a signature (objects for every argument), so
  // that forwardInvocation: can drop it instead of the runtime raising.
  const std::string name = ns::NSStringFromSelector(sel);
  return ns::MethodSignature::signatureWithObjCTypes(
      "v@:" + std::string(std::count(name.begin(), name.end(), ':'), '@'));
}

void TitlebarWindowDelegateProxy::forwardInvocation(ns::Ref<ns::Invocation> invocation) {
  if (!invocation) return;
  auto secondary = secondaryDelegate();
  if (secondary && ns::respondsToSelector(secondary, invocation->selector()))
    invocation->invokeWithTarget(secondary);
}

bool TitlebarWindowDelegateProxy::isKindOfClass(ns::Class cls) {
  auto secondary = secondaryDelegate();
  return secondary && ns::isKindOfClass(secondary, cls);
}

ak::Rect TitlebarWindowDelegateProxy::window_willPositionSheet_usingRect(ns::Ref<ak::Window> window,
                                                                         ns::Ref<ak::Window>, ak::Rect rect) {
  if (auto titlebarWindow = std::dynamic_pointer_cast<TitlebarWindow>(window))
    rect.origin.y = titlebarWindow->frame().size.height - titlebarWindow->titleBarHeight();
  return rect;
}

PL_CLASS(TitlebarWindowDelegateProxy, ns::Proxy) {
  cls.method<&TitlebarWindowDelegateProxy::respondsToSelector>("respondsToSelector:");
  cls.method<&TitlebarWindowDelegateProxy::methodSignatureForSelector>("methodSignatureForSelector:");
  cls.method<&TitlebarWindowDelegateProxy::forwardInvocation>("forwardInvocation:");
  cls.method<&TitlebarWindowDelegateProxy::isKindOfClass>("isKindOfClass:");
  cls.method<&TitlebarWindowDelegateProxy::window_willPositionSheet_usingRect>(
      "window:willPositionSheet:usingRect:");
}
