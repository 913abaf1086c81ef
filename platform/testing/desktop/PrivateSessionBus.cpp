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

PrivateSessionBus::PrivateSessionBus(Sandbox& sandbox) {
  auto folder = sandbox.temporaryFolder("session-bus");
  auto config = folder / "session.conf";
  {
    std::ofstream out(config);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:dir="
        << folder.string()
        << "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
  }
  daemon_ = ns::make<ns::Task>();
  daemon_->setLaunchPath(daemonPath());
  daemon_->setArguments({"--config-file=" + config.string(), "--print-address", "--nofork", "--nopidfile"});
  auto out = ns::Pipe::pipe();
  daemon_->setStandardOutput(out);
  // Its complaints (it cannot raise its file limit in a container, say) go to a file beside it.
  std::ofstream(folder / "daemon.log").flush();
  daemon_->setStandardError(ns::FileHandle::fileHandleForWritingAtPath((folder / "daemon.log").string()));
  ns::Error error;
  if (!daemon_->launchAndReturnError(&error)) throw std::runtime_error("cannot start dbus-daemon");
  // The daemon prints its address once it listens.
  std::string text;
  while (text.find('\n') == std::string::npos) {
    ns::Data chunk = out->fileHandleForReading()->availableData();
    if (chunk.length() == 0) break;
    text += chunk.toString();
  }
  auto newline = text.find('\n');
  if (newline == std::string::npos || newline == 0) {
    daemon_->terminate();
    daemon_->waitUntilExit();
    throw std::runtime_error("dbus-daemon printed no address");
  }
  address_ = text.substr(0, newline);
  sandbox.set("DBUS_SESSION_BUS_ADDRESS", address_);
}

PrivateSessionBus::~PrivateSessionBus() {
  daemon_->terminate();
  daemon_->waitUntilExit();
}

}  // namespace pltest
