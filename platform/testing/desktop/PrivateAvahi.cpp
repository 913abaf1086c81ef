#include "platform/testing/desktop/PrivateAvahi.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/core/NoDestructor.h"
#include "platform/foundation/FileHandle.h"
#include "platform/foundation/Pipe.h"
#include "platform/testing/desktop/PrivateSessionBus.h"

namespace pltest {
namespace {

// A tool on PATH or in the system folders, where the daemons live.
std::optional<std::string> findTool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = std::string(path ? path : "") + ":/usr/sbin:/sbin:/usr/bin:/bin";
  std::string::size_type start = 0;
  while (start <= folders.size()) {
    auto end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = folders.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

// avahi-browse writes labels with "\DDD" (decimal) and "\c" escapes.
std::string unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
    } else if (i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])) &&
               std::isdigit(static_cast<unsigned char>(text[i + 2])) &&
               std::isdigit(static_cast<unsigned char>(text[i + 3]))) {
      out += char(std::stoi(text.substr(i + 1, 3)));
      i += 3;
    } else {
      out += text[++i];
    }
  }
  return out;
}

// The first nine fields end at a ';'; the TXT field, the last, may hold any.
std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  for (char c : line) {
    if (c == ';' && fields.size() < 9) {
      fields.push_back(field);
      field.clear();
    } else {
      field += c;
    }
  }
  fields.push_back(field);
  return fields;
}

// The TXT field: quoted strings separated by spaces.
std::vector<std::string> txtStrings(const std::string& field) {
  std::vector<std::string> strings;
  std::size_t i = 0;
  while (i < field.size()) {
    if (field[i] != '"') {
      ++i;
      continue;
    }
    std::string s;
    ++i;
    while (i < field.size() && field[i] != '"') {
      if (field[i] == '\\' && i + 1 < field.size()) ++i;
      s += field[i++];
    }
    ++i;
    strings.push_back(s);
  }
  return strings;
}

// Copies an account file (passwd or group) with the daemon's user given id 0 in its `fields`
// numeric fields after the password.
bool accountsAsRoot(const std::filesystem::path& from, const std::filesystem::path& to, int fields) {
  std::ifstream in(from);
  std::ofstream out(to);
  if (!in || !out) return false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("avahi:", 0) == 0) {
      std::vector<std::string> parts;
      std::string::size_type start = 0;
      for (;;) {
        auto end = line.find(':', start);
        parts.push_back(line.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
      }
      line.clear();
      for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) line += ':';
        line += i >= 2 && i < std::size_t(2 + fields) ? "0" : parts[i];
      }
    }
    out << line << '\n';
  }
  return bool(out);
}

std::atomic<int> gDaemonCount{0};

// The daemon's interface in its own network namespace, and its address there: link-local, as on
// a link with no other host.
constexpr char kInterface[] = "pelmdns0";
constexpr char kAddress[] = "169.254.53.1";
// Alone on its network the daemon serves within a second or two; a daemon that cannot start at
// all ends at once, so this bounds only one that hangs on a loaded machine.
constexpr int kStartLimit = 30;

struct ProcessBus {
  std::optional<std::string> address;
  std::string why;
  BusDaemon daemon;
};

// Started once, outside every sandbox (sandboxes go with their tests), and never stopped here:
// the daemon's shell ends it with the process.
ProcessBus& processBus() {
  static ns::NoDestructor<ProcessBus> bus;
  static std::once_flag once;
  std::call_once(once, [] {
    char folder[] = "/tmp/pelorin-system-bus-XXXXXX";
    if (!::mkdtemp(folder)) {
      bus->why = "cannot make a folder for the system bus";
      return;
    }
    try {
      // Anonymous clients are let in too: a daemon in a user namespace says it is root, which
      // the bus cannot confirm.
      bus->daemon = startBusDaemon(folder, "system",
                                   "  <auth>ANONYMOUS</auth>\n"
                                   "  <allow_anonymous/>\n"
                                   "  <policy context=\"default\"><allow user=\"*\"/></policy>\n",
                                   true);
      bus->address = bus->daemon.address;
    } catch (const std::exception& e) {
      bus->why = e.what();
      std::filesystem::remove_all(folder);
    }
  });
  return *bus;
}

}  // namespace

struct PrivateAvahi::Log {
  mutable std::mutex mutex;
  std::string text;
};

PrivateAvahi::PrivateAvahi(Sandbox& sandbox) : log_(std::make_shared<Log>()) {
  auto& bus = processBus();
  if (!bus.address) {
    unavailable_ = bus.why;
    return;
  }
  busAddress_ = *bus.address;
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", busAddress_.c_str(), 1);
  startDaemon(sandbox);
}

void PrivateAvahi::reachNoDaemon(Sandbox& sandbox) {
  auto& bus = processBus();
  const std::string address = bus.address ? *bus.address : "unix:path=" + sandbox.path("no-bus");
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
}

PrivateAvahi::~PrivateAvahi() {
  if (daemon_) {
    daemon_->terminate();
    daemon_->waitUntilExit();
  }
  if (drain_.joinable()) drain_.join();
}

const std::string& PrivateAvahi::interfaceName() {
  static const std::string name = kInterface;
  return name;
}

const std::string& PrivateAvahi::address() {
  static const std::string address = kAddress;
  return address;
}

bool PrivateAvahi::hostNameMatches(const std::string& name) const {
  std::string base = name;
  if (base.size() > 6 && base.compare(base.size() - 6, 6, ".local") == 0) base.resize(base.size() - 6);
  return base == hostName_;
}

std::string PrivateAvahi::log() const {
  std::lock_guard lock(log_->mutex);
  return log_->text;
}

namespace {

// The programs the daemon's start needs, found on PATH or in the system folders.
struct DaemonTools {
  std::string avahi, browser, unshare, nsenter, ip, shell;
};

// Finds every tool, or says which are missing.
std::optional<std::string> findDaemonTools(DaemonTools& tools) {
  auto avahi = findTool("avahi-daemon");
  auto browser = findTool("avahi-browse");
  auto unshare = findTool("unshare");
  auto nsenter = findTool("nsenter");
  auto ip = findTool("ip");
  auto shell = findTool("sh");
  if (!avahi || !browser)
    return "avahi-daemon and avahi-browse are not installed (scripts/setup.sh installs them)";
  if (!unshare || !nsenter || !shell) return "unshare or nsenter is not installed";
  if (!ip) return "ip is not installed (iproute2; scripts/setup.sh installs it)";
  tools = {*avahi, *browser, *unshare, *nsenter, *ip, *shell};
  return std::nullopt;
}

void writeDaemonConfig(const std::filesystem::path& config, const std::string& hostName) {
  std::ofstream out(config);
  out << "[server]\n"
         "host-name="
      << hostName
      << "\n"
         "allow-interfaces="
      << kInterface
      << "\n"
         "use-ipv4=yes\n"
         "use-ipv6=yes\n"
         "enable-dbus=yes\n"
         "ratelimit-interval-usec=1000000\n"
         "ratelimit-burst=1000\n"
         "[wide-area]\n"
         "enable-wide-area=no\n"
         "[publish]\n"
         "publish-hinfo=no\n"
         "publish-workstation=no\n";
}

// Run inside the new namespaces: gives the network its one interface, shows the daemon its own
// /run and the account files of `accounts`, then becomes the daemon. Its arguments are, in order,
// the values of the names it gives them on its first lines.
constexpr char kNamespaceScript[] =
    "set -e\n"
    "run=$1 daemon=$2 config=$3 ip=$4 interface=$5 address=$6 accounts=$7\n"
    "if \"$ip\" link add \"$interface\" type veth peer name \"$interface\"-peer; then\n"
    "  \"$ip\" link set \"$interface\"-peer up\n"
    "else\n"
    "  \"$ip\" link add \"$interface\" type dummy\n"
    "fi\n"
    "\"$ip\" link set lo up\n"
    "\"$ip\" link set \"$interface\" multicast on up\n"
    "\"$ip\" address add \"$address\"/16 dev \"$interface\"\n"
    "mount --bind \"$run\" /run\n"
    "mount --bind \"$accounts\"/passwd /etc/passwd\n"
    "mount --bind \"$accounts\"/group /etc/group\n"
    "exec \"$daemon\" --file=\"$config\" --no-drop-root --no-chroot --no-rlimits --no-proc-title";

// unshare's arguments: the namespaces, then the script with its arguments. The daemon gets a
// network of its own: on the machine's network it would meet every other mDNS daemon there (the
// machine's own answers for the same addresses, so that the private one renamed itself for ever),
// and other tests' private daemons. Its one interface is the end of a veth pair whose other end,
// up but unused, gives it a carrier (a dummy interface where the kernel has no veth); its own
// multicast comes back to it as on any link. The pid file and socket sit in /run, which a mount
// namespace makes its own. Root needs only the namespaces; anybody else asks for a user namespace
// too, where they alone are mapped (as root), as root in a container may already be.
std::vector<std::string> unshareArguments(const DaemonTools& tools, const std::filesystem::path& folder,
                                          const std::filesystem::path& run,
                                          const std::filesystem::path& config) {
  std::vector<std::string> args;
  if (::geteuid() != 0) args = {"--user", "--map-root-user"};
  for (const char* a : {"--net", "--mount", "--propagation", "private", "--"}) args.push_back(a);
  for (const std::string& a : {tools.shell, std::string("-c"), std::string(kNamespaceScript),
                               std::string("sh"), run.string(), tools.avahi, config.string(), tools.ip,
                               std::string(kInterface), std::string(kAddress), folder.string()})
    args.push_back(a);
  return args;
}

}  // namespace

void PrivateAvahi::startDaemon(Sandbox& sandbox) {
  DaemonTools tools;
  if (auto missing = findDaemonTools(tools)) {
    unavailable_ = *missing;
    return;
  }
  browser_ = tools.browser;
  nsenter_ = tools.nsenter;
  auto folder = sandbox.temporaryFolder("avahi");
  auto run = folder / "run";
  std::filesystem::create_directories(run);
  // Not ending in digits: a renamed daemon appends "-2", "-3"... to it.
  hostName_ = "pelorin-test-" + std::to_string(::getpid()) + "n" + std::to_string(++gDaemonCount) + "-host";
  auto config = folder / "avahi-daemon.conf";
  writeDaemonConfig(config, hostName_);
  // The daemon gives its runtime folder to its own user, so the mount namespace also shows it
  // account files that make that user root.
  if (!accountsAsRoot("/etc/passwd", folder / "passwd", 2) ||
      !accountsAsRoot("/etc/group", folder / "group", 1)) {
    unavailable_ = "cannot read the account files in /etc";
    return;
  }
  auto err = launchDaemon(tools.unshare, unshareArguments(tools, folder, run, config));
  if (!err) return;
  const Start start = readLogUntilServing(err->fileHandleForReading()->fileDescriptor());
  drainLog(err->fileHandleForReading());
  if (auto why = startFailure(start)) stopDaemon(*why);
}

ns::Ref<ns::Pipe> PrivateAvahi::launchDaemon(const std::string& unshare,
                                             const std::vector<std::string>& args) {
  daemon_ = ns::make<ns::Task>();
  daemon_->setLaunchPath(unshare);
  daemon_->setArguments(args);
  auto err = ns::Pipe::pipe();
  daemon_->setStandardError(err);
  daemon_->setStandardOutput(ns::FileHandle::fileHandleWithNullDevice());
  ns::Error error;
  if (!daemon_->launchAndReturnError(&error)) {
    daemon_ = nullptr;
    unavailable_ = "cannot start avahi-daemon: " + error.description();
    return nullptr;
  }
  return err;
}

// The daemon says when it serves; until then, or until it gives up, its log is read here, and
// afterwards by the drain thread so that it never blocks on a full pipe.
PrivateAvahi::Start PrivateAvahi::readLogUntilServing(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStartLimit);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    if (left <= 0) return Start::TimedOut;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, int(left)) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return Start::Ended;
    std::lock_guard lock(log_->mutex);
    log_->text.append(buffer, std::size_t(n));
    if (log_->text.find("Server startup complete") != std::string::npos) return Start::Serving;
  }
}

void PrivateAvahi::drainLog(const ns::Ref<ns::FileHandle>& handle) {
  drain_ = std::thread([log = log_, handle] {
    char buffer[4096];
    for (;;) {
      ssize_t n = ::read(handle->fileDescriptor(), buffer, sizeof buffer);
      if (n <= 0) return;
      std::lock_guard lock(log->mutex);
      log->text.append(buffer, std::size_t(n));
    }
  });
}

std::optional<std::string> PrivateAvahi::startFailure(Start start) const {
  switch (start) {
    case Start::Ended:
      return "avahi-daemon, or the setting up of its namespaces and interface, ended before it served";
    case Start::TimedOut:
      return "avahi-daemon did not start within " + std::to_string(kStartLimit) + " s";
    case Start::Serving:
      if (log().find("New relevant interface") == std::string::npos)
        return "the daemon did not take its network interface";
      return std::nullopt;
  }
  return std::nullopt;
}

void PrivateAvahi::stopDaemon(const std::string& why) {
  unavailable_ = why + ": " + log();
  daemon_->terminate();
  daemon_->waitUntilExit();
  drain_.join();
  daemon_ = nullptr;
}

std::vector<PrivateAvahi::Service> PrivateAvahi::browse(const std::string& type) const {
  std::vector<Service> services;
  if (unavailable_) return services;
  auto task = ns::make<ns::Task>();
  // Run in the daemon's network namespace, where its interface index has its name.
  std::vector<std::string> args = {"--target", std::to_string(daemon_->processIdentifier())};
  if (::geteuid() != 0) {
    args.push_back("--user");
    args.push_back("--preserve-credentials");
  }
  for (const char* a : {"--net", "--"}) args.push_back(a);
  args.push_back(browser_);
  for (const char* a : {"--resolve", "--terminate", "--parsable", "--no-db-lookup"}) args.push_back(a);
  args.push_back(type);
  task->setLaunchPath(nsenter_);
  task->setArguments(args);
  auto out = ns::Pipe::pipe();
  task->setStandardOutput(out);
  task->setStandardError(ns::FileHandle::fileHandleWithNullDevice());
  ns::Error error;
  if (!task->launchAndReturnError(&error)) return services;
  std::string text;
  for (;;) {
    ns::Data chunk = out->fileHandleForReading()->availableData();
    if (chunk.length() == 0) break;
    text += chunk.toString();
  }
  task->waitUntilExit();
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    auto fields = splitFields(line);
    // "=;interface;protocol;name;type;domain;host;address;port;txt"
    if (fields.size() < 10 || fields[0] != "=") continue;
    Service s;
    s.interface = fields[1];
    s.protocol = fields[2];
    s.name = unescape(fields[3]);
    s.type = fields[4];
    s.domain = fields[5];
    s.host = fields[6];
    s.address = fields[7];
    s.port = std::atoi(fields[8].c_str());
    s.txt = txtStrings(fields[9]);
    services.push_back(std::move(s));
  }
  return services;
}

}  // namespace pltest
