#pragma once
// Whole-file access for tests: what a file holds, and writing one (making its folders).
#include <filesystem>
#include <string>
#include <vector>

namespace pltest {

// The file's bytes; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);
// Replaces the file with `bytes`, making the folders above it; answers whether all was written.
bool writeFile(const std::filesystem::path& path, const std::string& bytes);
// Every path below `root`, relative to it, sorted.
std::vector<std::string> folderTree(const std::filesystem::path& root);

}  // namespace pltest
