#include "platform/foundation/SearchPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace ns {
namespace {

std::string envPath(const char* name) {
  const char* v = std::getenv(name);
  if (!v || v[0] != '/') return {};
  std::string path(v);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string withHome(const std::string& relative) {
  std::string home = HomeDirectory();
  if (home == "/") return "/" + relative;
  return home + "/" + relative;
}

std::string xdgHome(const char* variable, const char* fallback) {
  std::string path = envPath(variable);
  return path.empty() ? withHome(fallback) : path;
}

// A folder named in user-dirs.dirs (lines such as XDG_VIDEOS_DIR="$HOME/Videos"); only
// "$HOME/..." and absolute paths are valid there.
std::string xdgUserDir(const char* key, const char* fallback) {
  std::ifstream in(userConfigDirectory() + "/user-dirs.dirs");
  std::string line;
  std::string prefix = std::string(key) + "=";
  while (std::getline(in, line)) {
    auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, prefix.size(), prefix) != 0) continue;
    std::string value = line.substr(start + prefix.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t'))
      value.pop_back();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    std::string resolved;
    if (value.rfind("$HOME", 0) == 0) {
      std::string rest = value.substr(5);
      if (rest.empty()) {
        resolved = HomeDirectory();
      } else if (rest[0] == '/') {
        resolved = HomeDirectory() + rest;
      }
    } else if (!value.empty() && value[0] == '/') {
      resolved = value;
    }
    while (resolved.size() > 1 && resolved.back() == '/') resolved.pop_back();
    if (!resolved.empty()) return resolved;
  }
  return withHome(fallback);
}

std::vector<std::string> xdgDirs(const char* variable, const char* fallback) {
  const char* v = std::getenv(variable);
  std::string list = (v && *v) ? v : fallback;
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos <= list.size()) {
    auto colon = list.find(':', pos);
    std::string part = list.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
    if (!part.empty() && part[0] == '/') {
      while (part.size() > 1 && part.back() == '/') part.pop_back();
      out.push_back(part);
    }
    if (colon == std::string::npos) break;
    pos = colon + 1;
  }
  return out;
}

std::string abbreviate(const std::string& path) {
  std::string home = HomeDirectory();
  if (home.empty() || home == "/") return path;
  if (path == home) return "~";
  if (path.size() > home.size() && path.compare(0, home.size(), home) == 0 && path[home.size()] == '/')
    return "~" + path.substr(home.size());
  return path;
}

}  // namespace

std::string HomeDirectory() {
  std::string home = envPath("HOME");
  if (!home.empty()) return home;
  struct passwd pwd;
  struct passwd* result = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &pwd, buffer, sizeof buffer, &result) == 0 && result && result->pw_dir)
    return result->pw_dir;
  return "/";
}

std::string TemporaryDirectory() {
  std::string tmp = envPath("TMPDIR");
  if (tmp.empty()) tmp = "/tmp";
  if (tmp.back() != '/') tmp += '/';
  return tmp;
}

std::string UserName() {
  struct passwd pwd;
  struct passwd* result = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &pwd, buffer, sizeof buffer, &result) == 0 && result && result->pw_name)
    return result->pw_name;
  const char* user = std::getenv("USER");
  return user ? user : "";
}

std::string FullUserName() {
  struct passwd pwd;
  struct passwd* result = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &pwd, buffer, sizeof buffer, &result) == 0 && result && result->pw_gecos &&
      *result->pw_gecos) {
    std::string gecos = result->pw_gecos;
    auto comma = gecos.find(',');
    return comma == std::string::npos ? gecos : gecos.substr(0, comma);
  }
  return UserName();
}

std::string userConfigDirectory() {
  return xdgHome("XDG_CONFIG_HOME", ".config");
}

std::string userDirectory(SearchPathDirectory directory) {
  switch (directory) {
    case ApplicationSupportDirectory:
    case LibraryDirectory:
      return xdgHome("XDG_DATA_HOME", ".local/share");
    case CachesDirectory:
      return xdgHome("XDG_CACHE_HOME", ".cache");
    case MoviesDirectory:
      return xdgUserDir("XDG_VIDEOS_DIR", "Videos");
    case DocumentDirectory:
      return xdgUserDir("XDG_DOCUMENTS_DIR", "Documents");
    case DownloadsDirectory:
      return xdgUserDir("XDG_DOWNLOAD_DIR", "Downloads");
    case DesktopDirectory:
      return xdgUserDir("XDG_DESKTOP_DIR", "Desktop");
    case MusicDirectory:
      return xdgUserDir("XDG_MUSIC_DIR", "Music");
    case PicturesDirectory:
      return xdgUserDir("XDG_PICTURES_DIR", "Pictures");
    case ApplicationDirectory:
      return withHome(".local/bin");
    case UserDirectory:
      return "/home";
    case ItemReplacementDirectory: {
      std::string tmp = TemporaryDirectory();
      tmp.pop_back();
      return tmp;
    }
  }
  return {};
}

std::vector<std::string> SearchPathForDirectoriesInDomains(SearchPathDirectory directory, unsigned domainMask,
                                                           bool expandTilde) {
  std::vector<std::string> out;
  if (domainMask & UserDomainMask) {
    std::string path = userDirectory(directory);
    if (!path.empty()) out.push_back(expandTilde ? path : abbreviate(path));
  }
  if (domainMask & (LocalDomainMask | SystemDomainMask)) {
    switch (directory) {
      case ApplicationSupportDirectory:
      case LibraryDirectory:
        for (auto& dir : xdgDirs("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) out.push_back(dir);
        break;
      case CachesDirectory:
        out.push_back("/var/cache");
        break;
      case ApplicationDirectory:
        if (domainMask & LocalDomainMask) out.push_back("/usr/local/bin");
        if (domainMask & SystemDomainMask) out.push_back("/usr/bin");
        break;
      default:
        break;
    }
  }
  return out;
}

}  // namespace ns
