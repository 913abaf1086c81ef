#pragma once
// A private session bus for tests: a dbus-daemon child process of type "session" listening in
// the sandbox, with no service activation (nothing installed on the machine can appear on it).
// While it lives, DBUS_SESSION_BUS_ADDRESS names it (restored by the sandbox); the daemon is
// stopped when it goes.
//
//   pltest::Sandbox sandbox;
//   pltest::PrivateSessionBus bus(sandbox);
//   pltest::FakeBusService fileManager = pltest::FakeBusService::fileManager(bus.address());
#include <string>

#include "platform/foundation/Task.h"
#include "platform/testing/Sandbox.h"

namespace pltest {

class PrivateSessionBus {
 public:
  // Throws std::runtime_error when the daemon cannot be started.
  explicit PrivateSessionBus(Sandbox& sandbox);
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  const std::string& address() const { return address_; }

 private:
  ns::Ref<ns::Task> daemon_;
  std::string address_;
};

}  // namespace pltest
