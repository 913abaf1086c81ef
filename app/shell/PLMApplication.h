#pragma once
// The application object (Info.plist's principal class): before an event is dispatched it takes
// the media keys and the keys meant for the list on show; everything else, and everything while
// a sheet or a share is up, goes on as usual. When the application resigns active the search
// suggestions close. Main thread.
#include <string>

#include "platform/appkit/Application.h"

namespace ns {
class Notification;
}

class PLMApplication : public ak::Application {
 public:
  PLMApplication();
  ~PLMApplication() override;

  void finishLaunching() override;
  void sendEvent(const ns::Ref<ak::Event>& event) override;

  // Whether the event was taken: a media key (down or up), or a key the list on show used.
  bool handleMediaKey(const ns::Ref<ak::Event>& event);
  bool handleListKey(const ns::Ref<ak::Event>& event);

  void applicationDidResignActive(const ns::Ref<ns::Notification>& note);

  std::string className() const override { return "PLMApplication"; }

 private:
  bool observing_ = false;
};

// True while a sheet of the main window or a share is up: the application's keys stand still.
bool shellKeysHeld();

// Whether the runtime knows the class by name, as the launch makes it from Info.plist. Calling
// it also keeps the class's registration in the executable.
bool isApplicationClassRegistered();
