#pragma once
// Small pieces the fuzz targets share.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

// Reports a broken promise of the code under test and stops the run, so libFuzzer (or the replay)
// keeps the input.
[[noreturn]] inline void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzz
