#pragma once
// A private mDNS daemon for tests: an avahi-daemon with its own configuration and a host name no
// other process uses, serving on the test process's private D-Bus system bus. It runs in a
// network namespace of its own, whose one interface (with address() on it) links it to nobody, so
// that no other mDNS daemon, the machine's or another test's, hears it or answers it; and in a
// mount namespace of its own whose /run is a sandbox folder, so that its pid file and socket
// cannot meet another daemon's. Its clients reach it over the bus, a unix socket, from any
// network namespace.
//
// The client library reads DBUS_SYSTEM_BUS_ADDRESS once per process, so one private system bus
// serves all the tests of a process: started on first use, named by DBUS_SYSTEM_BUS_ADDRESS from
// then on, and ended (its folder removed) once the process has ended.
//
//   pltest::Sandbox sandbox;
//   pltest::PrivateAvahi avahi(sandbox);
//   if (auto why = avahi.unavailable()) GTEST_SKIP() << *why;
//   auto seen = avahi.browse("_http._tcp");   // what the daemon resolves for that type
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/FileHandle.h"
#include "platform/foundation/Pipe.h"
#include "platform/foundation/Task.h"
#include "platform/testing/Sandbox.h"

namespace pltest {

class PrivateAvahi {
 public:
  // One resolved service, as the daemon reports it (for each interface and protocol; the
  // interface is named as in the daemon's network namespace).
  struct Service {
    std::string interface, protocol, name, type, domain, host, address;
    int port = 0;
    // The TXT record's strings ("key=value"), in order.
    std::vector<std::string> txt;
  };

  explicit PrivateAvahi(Sandbox& sandbox);
  ~PrivateAvahi();
  PrivateAvahi(const PrivateAvahi&) = delete;
  PrivateAvahi& operator=(const PrivateAvahi&) = delete;

  // Why no daemon runs here (a tool missing, no namespace or interface allowed, the daemon gave
  // up), or nothing when it runs. A daemon that cannot start says so within moments.
  const std::optional<std::string>& unavailable() const { return unavailable_; }
  const std::string& busAddress() const { return busAddress_; }
  // The daemon's one network interface and its IPv4 address, which the host name resolves to.
  static const std::string& interfaceName();
  static const std::string& address();
  // The host name the daemon was given. Alone on its network it has no reason to rename itself
  // ("<hostName>-2"), so hostNameMatches takes only this name, with or without ".local".
  const std::string& hostName() const { return hostName_; }
  bool hostNameMatches(const std::string& name) const;
  // What the daemon's log says so far.
  std::string log() const;

  // For tests of a process with no mDNS daemon: names the private system bus with no daemon on
  // it (or, where no bus can start, a bus that does not exist).
  static void reachNoDaemon(Sandbox& sandbox);

  // One browse of the daemon for services of `type` with their resolved details (avahi-browse,
  // answering once the daemon has told all it knows).
  std::vector<Service> browse(const std::string& type) const;

 private:
  // How the daemon's start ended: it serves, it ended first, or it said nothing in time.
  enum class Start { Serving, Ended, TimedOut };

  // Writes the daemon's files, starts it in namespaces of its own and waits until it serves; or
  // sets unavailable_ to why not.
  void startDaemon(Sandbox& sandbox);
  // Starts unshare with `args`; answers the pipe of the daemon's standard error, or nil (with
  // unavailable_ set) when it cannot start.
  ns::Ref<ns::Pipe> launchDaemon(const std::string& unshare, const std::vector<std::string>& args);
  // Adds what the daemon writes on `fd` to its log until it says it serves, ends or runs out of time.
  Start readLogUntilServing(int fd);
  // From then on a thread of its own reads the log, so that the daemon never blocks on a full pipe.
  void drainLog(const ns::Ref<ns::FileHandle>& handle);
  // Why a daemon that came this far is of no use, or nothing: it must serve on its interface.
  std::optional<std::string> startFailure(Start start) const;
  // Ends a daemon that is of no use, and says why with its log.
  void stopDaemon(const std::string& why);

  std::optional<std::string> unavailable_;
  ns::Ref<ns::Task> daemon_;
  std::string busAddress_;
  std::string hostName_;
  std::string browser_;
  std::string nsenter_;
  // The daemon's standard error, drained by a thread of its own until the daemon ends.
  struct Log;
  std::shared_ptr<Log> log_;
  std::thread drain_;
};

}  // namespace pltest
