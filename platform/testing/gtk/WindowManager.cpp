#include "platform/testing/gtk/WindowManager.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

#include "platform/foundation/FileHandle.h"
#include "platform/foundation/Task.h"
#include "platform/testing/Sandbox.h"
#include "platform/testing/desktop/PrivateSessionBus.h"

extern char** environ;

namespace pltest {

namespace fs = std::filesystem;

namespace {

// Generous: a manager with a compositor starts slowly on a loaded machine.
constexpr double kStartSeconds = 60;
constexpr double kStopSeconds = 30;

std::optional<std::string> findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
    if (::access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate)) return candidate.string();
  }
  return std::nullopt;
}

std::string tail(const fs::path& log, std::size_t lines = 6) {
  std::ifstream in(log);
  std::vector<std::string> all;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) all.push_back(line);
  std::string out;
  for (std::size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i)
    out += "\n  " + all[i];
  return out;
}

// The window a manager names as its own on the root window (_NET_SUPPORTING_WM_CHECK), when
// that window names itself too: the check EWMH gives for a manager that is up, not one that died.
Window supportingWindow(Display* d) {
  const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
  auto read = [&](Window on) -> Window {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window found = None;
    if (XGetWindowProperty(d, on, check, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) ==
            Success &&
        type == XA_WINDOW && format == 32 && count == 1)
      found = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
    if (data) XFree(data);
    return found;
  };
  // The check window may be gone between the two reads: its error is no failure here.
  auto previous = XSetErrorHandler(+[](Display*, XErrorEvent*) { return 0; });
  const Window named = read(DefaultRootWindow(d));
  const Window self = named != None ? read(named) : None;
  XSync(d, False);
  XSetErrorHandler(previous);
  return named != None && self == named ? named : None;
}

Atom screenSelection(Display* d) {
  return XInternAtom(d, ("WM_S" + std::to_string(DefaultScreen(d))).c_str(), False);
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
}

}  // namespace

struct WindowManager::Impl {
  std::optional<TemporaryFolder> folder;
  Display* display = nullptr;
  ns::Ref<ns::Task> task;
  std::optional<BusDaemon> bus;

  ~Impl() {
    if (display) XCloseDisplay(display);
  }

  // Reads the X connection until `done` holds or the time is up; the manager's own end stops the
  // wait early when `whileRunning`. `nudge` runs every tenth of a second meanwhile.
  bool waitFor(const std::function<bool()>& done, double seconds, bool whileRunning,
               const std::function<void()>& nudge = nullptr) {
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    constexpr auto kTick = std::chrono::milliseconds(100);
    auto nextTick = Clock::now();
    for (;;) {
      while (XPending(display)) {
        XEvent e;
        XNextEvent(display, &e);
      }
      if (done()) return true;
      if (whileRunning && !task->isRunning()) return false;
      const auto now = Clock::now();
      if (now >= deadline) return false;
      if (now >= nextTick) {
        if (nudge) nudge();
        nextTick = now + kTick;
      }
      // The root's property changes and the manager's announcement wake this; a manager that
      // ends says nothing on the display, so its end is looked at every tick.
      const auto wait =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::min(deadline, nextTick) - now);
      pollfd fd{ConnectionNumber(display), POLLIN, 0};
      ::poll(&fd, 1, static_cast<int>(std::max<long long>(1, wait.count())));
    }
  }
};

const char* WindowManager::name(Kind kind) {
  switch (kind) {
    case Kind::openbox:
      return "openbox";
    case Kind::xfwm4:
      return "xfwm4";
    case Kind::mutter:
      return "mutter";
  }
  return "?";
}

std::string WindowManager::runningName() {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return {};
  std::string out;
  if (Window w = supportingWindow(d); w != None) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    auto previous = XSetErrorHandler(+[](Display*, XErrorEvent*) { return 0; });
    if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), 0, 256, False,
                           XInternAtom(d, "UTF8_STRING", False), &type, &format, &count, &after,
                           &data) == Success &&
        data && format == 8)
      out.assign(reinterpret_cast<char*>(data), count);
    if (data) XFree(data);
    XSync(d, False);
    XSetErrorHandler(previous);
    // A manager that names itself nowhere still manages the screen.
    if (out.empty()) out = "?";
  }
  XCloseDisplay(d);
  return out;
}

WindowManager::WindowManager(Kind kind) : impl_(std::make_unique<Impl>()) {
  const std::string program = name(kind);
  const auto path = findProgram(program);
  if (!path) {
    unavailable_ = program + " is not installed (Debian package " + program + ")";
    return;
  }
  impl_->display = XOpenDisplay(nullptr);
  if (!impl_->display) {
    unavailable_ = "no X display to run " + program + " on";
    return;
  }
  Display* d = impl_->display;
  // Announcements of a new manager go to the root window's clients (ICCCM's MANAGER message).
  XSelectInput(d, DefaultRootWindow(d), PropertyChangeMask | StructureNotifyMask);
  const Window previousOwner = XGetSelectionOwner(d, screenSelection(d));

  impl_->folder.emplace(fs::temp_directory_path());
  const fs::path root = impl_->folder->path();
  const fs::path home = root / "home", config = home / ".config", cache = home / ".cache",
                 data = home / ".local/share", state = home / ".local/state", runtime = root / "run";
  for (const auto& folder : {config, cache, data, state, runtime}) fs::create_directories(folder);
  ::chmod(runtime.c_str(), 0700);

  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (auto eq = entry.find('='); eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  env["HOME"] = home.string();
  env["XDG_CONFIG_HOME"] = config.string();
  env["XDG_CACHE_HOME"] = cache.string();
  env["XDG_DATA_HOME"] = data.string();
  env["XDG_STATE_HOME"] = state.string();
  env["XDG_RUNTIME_DIR"] = runtime.string();
  env["TMPDIR"] = root.string();
  // Settings in memory, no accessibility bus, no session manager, no Wayland.
  env["GSETTINGS_BACKEND"] = "memory";
  env["NO_AT_BRIDGE"] = "1";
  for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "SESSION_MANAGER", "WAYLAND_DISPLAY"}) env.erase(name);

  std::vector<std::string> args;
  switch (kind) {
    case Kind::openbox: {
      // Its own configuration rather than the machine's: one desktop, no menu to read.
      writeFile(root / "menu.xml", "<openbox_menu xmlns=\"http://openbox.org/3.4/menu\"/>\n");
      writeFile(root / "rc.xml",
                "<?xml version=\"1.0\"?>\n"
                "<openbox_config xmlns=\"http://openbox.org/3.4/rc\">\n"
                "  <focus><focusNew>yes</focusNew></focus>\n"
                "  <desktops><number>1</number></desktops>\n"
                "  <menu><file>" +
                    (root / "menu.xml").string() +
                    "</file></menu>\n"
                    "</openbox_config>\n");
      args = {"--replace", "--sm-disable", "--config-file", (root / "rc.xml").string()};
      break;
    }
    case Kind::xfwm4:
      // Its settings come from xfconfd, which only a session bus starts: a private one, on which
      // nothing but that service can be started.
      args = {"--replace", "--compositor=off", "--sm-client-disable"};
      break;
    case Kind::mutter:
      args = {"--x11", "--replace", "--sm-disable"};
      break;
  }
  if (kind != Kind::openbox) {
    const fs::path busFolder = root / "bus", services = root / "bus-services";
    fs::create_directories(busFolder);
    fs::create_directories(services);
    if (kind == Kind::xfwm4) {
      // The machine's own definition of the service, alone on this bus.
      const char* service = "org.xfce.Xfconf.service";
      const char* dirs = std::getenv("XDG_DATA_DIRS");
      std::stringstream folders(dirs && *dirs ? dirs : "/usr/local/share:/usr/share");
      for (std::string folder; std::getline(folders, folder, ':');)
        if (fs::exists(fs::path(folder) / "dbus-1/services" / service)) {
          fs::copy_file(fs::path(folder) / "dbus-1/services" / service, services / service);
          break;
        }
      if (!fs::exists(services / service)) {
        unavailable_ = "xfwm4 needs xfconfd, which is not installed (Debian package xfconf)";
        return;
      }
    }
    try {
      impl_->bus = startBusDaemon(busFolder, "session",
                                  "  <servicedir>" + services.string() + "</servicedir>\n", true);
    } catch (const std::exception& e) {
      unavailable_ = program + " needs a session bus: " + e.what();
      return;
    }
    env["DBUS_SESSION_BUS_ADDRESS"] = impl_->bus->address;
  }

  const fs::path log = root / "manager.log";
  writeFile(log, "");
  impl_->task = ns::make<ns::Task>();
  impl_->task->setLaunchPath(*path);
  impl_->task->setArguments(args);
  impl_->task->setEnvironment(env);
  impl_->task->setCurrentDirectoryPath(root.string());
  impl_->task->setStandardInput(ns::FileHandle::fileHandleWithNullDevice());
  auto output = ns::FileHandle::fileHandleForWritingAtPath(log.string());
  impl_->task->setStandardOutput(output);
  impl_->task->setStandardError(output);
  ns::Error error;
  if (!impl_->task->launchAndReturnError(&error)) {
    unavailable_ = "cannot start " + *path;
    impl_->task = nullptr;
    return;
  }
  // Up once it owns the screen's manager selection (a new owner, when it replaced another) and
  // names its check window on the root window.
  bool up = impl_->waitFor(
      [&] {
        const Window owner = XGetSelectionOwner(d, screenSelection(d));
        return owner != None && owner != previousOwner && supportingWindow(d) != None;
      },
      kStartSeconds, true);
  // Taking the screen comes before handling windows: a window of its own, shown, is managed (it
  // gets WM_STATE) once the manager answers requests. A manager may take in the request while it
  // starts and then wait for more before it looks at it (openbox does): a property of the root
  // window, which every manager watches, changes until it has.
  if (up) {
    const Atom nudge = XInternAtom(d, "_PELORIN_TEST_NUDGE", False);
    long count = 0;
    const Window probe = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
    XSelectInput(d, probe, PropertyChangeMask);
    XMapWindow(d, probe);
    XFlush(d);
    const Atom wmState = XInternAtom(d, "WM_STATE", False);
    up = impl_->waitFor(
        [&] {
          Atom type = None;
          int format = 0;
          unsigned long count = 0, after = 0;
          unsigned char* data = nullptr;
          XGetWindowProperty(d, probe, wmState, 0, 2, False, AnyPropertyType, &type, &format, &count, &after,
                             &data);
          if (data) XFree(data);
          return type != None;
        },
        kStartSeconds, true,
        [&] {
          ++count;
          XChangeProperty(d, DefaultRootWindow(d), nudge, XA_CARDINAL, 32, PropModeReplace,
                          reinterpret_cast<unsigned char*>(&count), 1);
          XFlush(d);
        });
    XDeleteProperty(d, DefaultRootWindow(d), nudge);
    XDestroyWindow(d, probe);
    XSync(d, False);
  }
  if (!up) {
    unavailable_ = program + (impl_->task->isRunning() ? " did not take the screen" : " ended at its start") +
                   "; its last words:" + tail(log);
  }
}

WindowManager::~WindowManager() {
  if (impl_->task) {
    impl_->task->terminate();
    impl_->task->waitUntilExit();
    // The server drops its selection once it has closed the connection: the screen is free
    // for the next manager, and windows are nobody's, when this returns.
    Display* d = impl_->display;
    impl_->waitFor([&] { return XGetSelectionOwner(d, screenSelection(d)) == None; }, kStopSeconds, false);
  }
  if (impl_->bus) {
    // The shell that holds the daemon stops it once the lifeline closes.
    impl_->bus->lifeline->fileHandleForWriting()->closeFile();
    impl_->bus->task->waitUntilExit();
  }
}

}  // namespace pltest
