#pragma once
// A private session bus for tests: a dbus-daemon child process of type "session" listening in
// the sandbox, with no service activation (nothing installed on the machine can appear on it).
// While it lives, DBUS_SESSION_BUS_ADDRESS names it (restored by the sandbox); the daemon is
// stopped when it goes.
//
//   pltest::Sandbox sandbox;
//   pltest::PrivateSessionBus bus(sandbox);
//   pltest::FakeBusService fileManager = pltest::FakeBusService::fileManager(bus.address());
#include <filesystem>
#include <string>

#include "platform/foundation/Task.h"
#include "platform/testing/Sandbox.h"

namespace pltest {

// A dbus-daemon of `type` ("session" or "system") listening in `folder`, where anybody may own
// any name and send anything; `extraConfig` goes into its configuration as it is. Its complaints
// go to "daemon.log" in the folder. Throws std::runtime_error when it does not start.
//
// With `endsWithThisProcess` the daemon runs under a shell that holds the read end of
// `lifeline`: once this process has ended, however it ended, the shell stops the daemon and
// removes the folder.
struct BusDaemon {
  ns::Ref<ns::Task> task;
  std::string address;
  ns::Ref<ns::Pipe> lifeline;
};
BusDaemon startBusDaemon(const std::filesystem::path& folder, const std::string& type,
                         const std::string& extraConfig = "", bool endsWithThisProcess = false);

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
