#pragma once
// Helpers of the cache tests: a sandboxed home and file access.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/testing/Sandbox.h"

namespace cachetest {

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline bool exists(const std::string& path) {
  return std::filesystem::exists(path);
}

// Every path below `root`, relative, sorted.
inline std::vector<std::string> tree(const std::string& root) {
  std::vector<std::string> out;
  for (auto& e : std::filesystem::recursive_directory_iterator(root)) {
    out.push_back(std::filesystem::relative(e.path(), root).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace cachetest
