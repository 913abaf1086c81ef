#include "lib/http-server/Core/StandardizedPath.h"

#include <cstdlib>
#include <vector>

std::string standardizedPath(std::string_view input) {
  std::string path(input);
  if (!path.empty() && path[0] == '~' && (path.size() == 1 || path[1] == '/')) {
    const char* home = std::getenv("HOME");
    if (home && *home) path = std::string(home) + path.substr(1);
  }
  if (path.empty()) return path;
  bool absolute = path[0] == '/';
  std::vector<std::string_view> parts;
  std::string_view rest(path);
  while (!rest.empty()) {
    std::size_t slash = rest.find('/');
    std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
        continue;
      }
      if (absolute) continue;  // nothing above the root
    }
    parts.push_back(part);
  }
  std::string out = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += '/';
    out += parts[i];
  }
  if (out.empty()) out = ".";
  return out;
}
