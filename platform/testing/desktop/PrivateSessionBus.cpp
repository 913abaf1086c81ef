#include "platform/testing/desktop/PrivateSessionBus.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "platform/foundation/FileHandle.h"
#include "platform/foundation/Pipe.h"

namespace pltest {
namespace {

// Found on PATH, as a desktop session would start it.
std::string daemonPath() {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  std::string::size_type start = 0;
  while (start <= folders.size()) {
    auto end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = folders.substr(start, end - start) + "/dbus-daemon";
    if (std::ifstream(candidate).good()) return candidate;
    start = end + 1;
  }
  throw std::runtime_error("dbus-daemon is not installed");
}

}  // namespace

BusDaemon startBusDaemon(const std::filesystem::path& folder, const std::string& type,
                         const std::string& extraConfig, bool endsWithThisProcess) {
  auto config = folder / (type + ".conf");
  {
    std::ofstream out(config);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>"
        << type
        << "</type>\n"
           "  <listen>unix:dir="
        << folder.string()
        << "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
        << extraConfig
        << "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
  }
  BusDaemon bus;
  bus.task = ns::make<ns::Task>();
  const std::vector<std::string> daemon = {daemonPath(), "--config-file=" + config.string(),
                                           "--print-address", "--nofork", "--nopidfile"};
  if (endsWithThisProcess) {
    // A background job's input is /dev/null: only the shell reads the lifeline.
    bus.lifeline = ns::Pipe::pipe();
    bus.task->setStandardInput(bus.lifeline);
    bus.task->setLaunchPath("/bin/sh");
    std::vector<std::string> args = {"-c", "\"$@\" & read -r _; kill $!; wait; rm -rf \"$0\"",
                                     folder.string()};
    args.insert(args.end(), daemon.begin(), daemon.end());
    bus.task->setArguments(args);
  } else {
    bus.task->setLaunchPath(daemon[0]);
    bus.task->setArguments({daemon.begin() + 1, daemon.end()});
  }
  auto out = ns::Pipe::pipe();
  bus.task->setStandardOutput(out);
  // Its complaints (it cannot raise its file limit in a container, say) go to a file beside it.
  std::ofstream(folder / "daemon.log").flush();
  bus.task->setStandardError(ns::FileHandle::fileHandleForWritingAtPath((folder / "daemon.log").string()));
  ns::Error error;
  if (!bus.task->launchAndReturnError(&error)) throw std::runtime_error("cannot start dbus-daemon");
  // The daemon prints its address once it listens.
  std::string text;
  while (text.find('\n') == std::string::npos) {
    ns::Data chunk = out->fileHandleForReading()->availableData();
    if (chunk.length() == 0) break;
    text += chunk.toString();
  }
  auto newline = text.find('\n');
  if (newline == std::string::npos || newline == 0) {
    bus.task->terminate();
    bus.task->waitUntilExit();
    throw std::runtime_error("dbus-daemon printed no address");
  }
  bus.address = text.substr(0, newline);
  return bus;
}

PrivateSessionBus::PrivateSessionBus(Sandbox& sandbox) {
  auto bus = startBusDaemon(sandbox.temporaryFolder("session-bus"), "session");
  daemon_ = bus.task;
  address_ = bus.address;
  sandbox.set("DBUS_SESSION_BUS_ADDRESS", address_);
}

PrivateSessionBus::~PrivateSessionBus() {
  daemon_->terminate();
  daemon_->waitUntilExit();
}

}  // namespace pltest
