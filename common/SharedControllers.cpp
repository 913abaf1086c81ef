// The process-wide references to the shell's controllers and to the browsing interface. They
// are never destroyed: queue workers may still read them while the process exits.
#include "common/IAppDelegate.h"
#include "common/IBrowsingInterface.h"
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

ns::Ref<IBrowsingInterface> browsingInterface() {
  return sharedReference<IBrowsingInterface>().get();
}
void setBrowsingInterface(ns::Ref<IBrowsingInterface> interface) {
  sharedReference<IBrowsingInterface>().set(std::move(interface));
}

ns::Ref<IPlaylistViewController> installedCurrentPlaylist() {
  auto browsing = browsingInterface();
  return browsing ? browsing->currentPlaylist() : nullptr;
}
