#pragma once
// Installs an object as one of the process-wide controllers for the life of a scope and puts
// the previous one back at its end.
//
//   auto player = ns::make<testsupport::FakePlayerViewController>();
//   testsupport::ScopedPlayerViewController installed(player);
#include <utility>

#include "common/IAppDelegate.h"
#include "common/IMainWindowController.h"
#include "common/IPlayerViewController.h"

namespace testsupport {

template <class Interface, ns::Ref<Interface> (*Get)(), void (*Set)(ns::Ref<Interface>)>
class ScopedController {
 public:
  explicit ScopedController(ns::Ref<Interface> object) : previous_(Get()) { Set(std::move(object)); }
  ~ScopedController() { Set(std::move(previous_)); }
  ScopedController(const ScopedController&) = delete;
  ScopedController& operator=(const ScopedController&) = delete;

 private:
  ns::Ref<Interface> previous_;
};

using ScopedMainWindowController =
    ScopedController<IMainWindowController, &mainWindowController, &setMainWindowController>;
using ScopedPlayerViewController =
    ScopedController<IPlayerViewController, &playerViewController, &setPlayerViewController>;
using ScopedAppDelegate = ScopedController<IAppDelegate, &appDelegate, &setAppDelegate>;

}  // namespace testsupport
