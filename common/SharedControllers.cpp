// The process-wide references to the shell's controllers. They are never destroyed: queue
// workers may still read them while the process exits.
#include "common/IAppDelegate.h"
#include "common/IMainWindowController.h"
#include "common/IPlayerViewController.h"
#include "common/SharedReference.h"
#include "platform/core/NoDestructor.h"

namespace {

template <class T>
SharedReference<T>& sharedReference() {
  static ns::NoDestructor<SharedReference<T>> reference;
  return *reference;
}

}  // namespace

ns::Ref<IMainWindowController> mainWindowController() {
  return sharedReference<IMainWindowController>().get();
}
void setMainWindowController(ns::Ref<IMainWindowController> controller) {
  sharedReference<IMainWindowController>().set(std::move(controller));
}

ns::Ref<IPlayerViewController> playerViewController() {
  return sharedReference<IPlayerViewController>().get();
}
void setPlayerViewController(ns::Ref<IPlayerViewController> controller) {
  sharedReference<IPlayerViewController>().set(std::move(controller));
}

ns::Ref<IAppDelegate> appDelegate() {
  return sharedReference<IAppDelegate>().get();
}
void setAppDelegate(ns::Ref<IAppDelegate> delegate) {
  sharedReference<IAppDelegate>().set(std::move(delegate));
}
