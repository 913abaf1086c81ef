#pragma once
// Helpers of the cache tests: a sandboxed home and file access.
#include <filesystem>

#include "platform/testing/Files.h"
#include "platform/testing/Sandbox.h"

namespace cachetest {

using pltest::readFile;
using pltest::writeFile;
using std::filesystem::exists;

}  // namespace cachetest
