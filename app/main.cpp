// Process entry. For now Pelorin reports its name and version from the bundle's Info.plist,
// which the build installs beside the executable.
#include <plist/plist.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/runtime/Runtime.h"

namespace {

std::string executableFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string stringValue(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (!node || plist_get_node_type(node) != PLIST_STRING) return {};
  char* value = nullptr;
  plist_get_string_val(node, &value);
  std::string result = value ? value : "";
  free(value);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  ns::runtime::start();
  std::string path = executableFolder() + "/Info.plist";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "pelorin: cannot read %s\n", path.c_str());
    return 1;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  std::string xml = ss.str();
  plist_t root = nullptr;
  plist_from_memory(xml.data(), static_cast<uint32_t>(xml.size()), &root);
  if (!root || plist_get_node_type(root) != PLIST_DICT) {
    std::fprintf(stderr, "pelorin: %s is not a property list dictionary\n", path.c_str());
    if (root) plist_free(root);
    return 1;
  }
  std::printf("%s %s\n", stringValue(root, "CFBundleName").c_str(),
              stringValue(root, "CFBundleShortVersionString").c_str());
  plist_free(root);
  return 0;
}
