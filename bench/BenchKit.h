#pragma once
// What several benches share: nginx as the reference server (one process with one worker,
// sendfile on, serving a folder on 127.0.0.1; Debian package nginx-light, scripts/setup.sh
// --bench) on a port held for it, the time a piece of work takes, the median of rounds, the
// machine's load average, and a run of the driver itself on a virtual display of its own.
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace benchkit {

inline constexpr char kNginxPath[] = "/usr/sbin/nginx";

// A port on 127.0.0.1 that the system picked, held for a server the driver starts, from before
// the server binds it until the server has stopped: a socket bound to it with SO_REUSEPORT and
// never listening. No other process can bind the port or be handed it meanwhile, while the
// server, binding it with SO_REUSEPORT too, gets every connection. A port found free and let go
// of may be taken by another process before the server binds it. nginx cannot take the socket
// itself: in one process it crashes on a listening socket it inherits. port() is 0 when the
// system refuses.
class HeldPort {
 public:
  HeldPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    int on = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (fd_ >= 0 && ::setsockopt(fd_, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) == 0 &&
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
      port_ = ntohs(addr.sin_port);
  }
  ~HeldPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  HeldPort(HeldPort&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)), port_(std::exchange(other.port_, 0)) {}
  HeldPort& operator=(HeldPort&& other) noexcept {
    std::swap(fd_, other.fd_);
    std::swap(port_, other.port_);
    return *this;
  }
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;

  std::uint16_t port() const { return port_; }

 private:
  int fd_;
  std::uint16_t port_ = 0;
};

// Writes the configuration (and the folders nginx keeps its files in) below `work`; answers the
// command line that runs nginx with it in the foreground, on `port`, until it is sent SIGTERM.
// Keep `port` until nginx has stopped.
inline std::vector<std::string> nginxCommand(const std::filesystem::path& work,
                                             const std::filesystem::path& root, const HeldPort& port,
                                             int connections = 64) {
  std::filesystem::create_directories(work / "logs");
  std::ofstream conf(work / "nginx.conf");
  conf << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << (work / "nginx.pid").string()
       << ";\n"
       << "error_log " << (work / "logs/error.log").string() << ";\n"
       << "events { worker_connections " << connections << "; }\n"
       << "http {\n  access_log off;\n  sendfile on;\n  keepalive_requests 1000000;\n"
       << "  client_body_temp_path " << (work / "body").string() << ";\n"
       << "  proxy_temp_path " << (work / "proxy").string() << ";\n"
       << "  fastcgi_temp_path " << (work / "fastcgi").string() << ";\n"
       << "  uwsgi_temp_path " << (work / "uwsgi").string() << ";\n"
       << "  scgi_temp_path " << (work / "scgi").string() << ";\n"
       << "  server { listen 127.0.0.1:" << port.port() << " reuseport; root " << root.string() << "; }\n}\n";
  return {kNginxPath, "-p", work.string() + "/", "-c", (work / "nginx.conf").string()};
}

inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The load averages over 1, 5 and 15 minutes, as uptime prints them.
inline std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The wall-clock seconds `work` takes.
template <class Work>
double seconds(Work&& work) {
  auto start = std::chrono::steady_clock::now();
  std::forward<Work>(work)();
  return secondsSince(start);
}

// Whether this driver may go on where it is: true when `marker` is set (it is the run started
// again under xvfb-run) or, with `displayWillDo`, when a display is named. Otherwise it starts
// itself again under xvfb-run (a 1440x900 screen, no window manager) with `marker` set, and
// answers false only when that cannot start.
inline bool onVirtualDisplay(int argc, char** argv, const char* marker, bool displayWillDo) {
  if (std::getenv(marker) || (displayWillDo && std::getenv("DISPLAY"))) return true;
  setenv(marker, "1", 1);
  setenv("NO_AT_BRIDGE", "1", 1);
  setenv("GTK_IM_MODULE", "gtk-im-context-simple", 1);
  setenv("GSETTINGS_BACKEND", "memory", 1);
  unsetenv("WAYLAND_DISPLAY");
  std::vector<char*> args = {const_cast<char*>("xvfb-run"), const_cast<char*>("-a"), const_cast<char*>("-s"),
                             const_cast<char*>("-screen 0 1440x900x24 -br -nolisten tcp")};
  for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  execvp("xvfb-run", args.data());
  std::perror("xvfb-run");
  return false;
}

}  // namespace benchkit
