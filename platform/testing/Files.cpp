#include "platform/testing/Files.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

namespace pltest {

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::error_code error;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.flush();
  return static_cast<bool>(out);
}

std::vector<std::string> folderTree(const std::filesystem::path& root) {
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
    out.push_back(std::filesystem::relative(entry.path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace pltest
