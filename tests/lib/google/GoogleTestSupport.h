#pragma once
// Shared by the Data API model tests: the real replies in tests/fixtures/dataapi.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lib/google/ApiJSONParser.h"
#include "platform/core/Data.h"
#include "platform/runtime/Runtime.h"

namespace googletest {

// The real replies kept in the repository, tests/fixtures/dataapi, found from the source tree
// CTest names (PELORIN_TEST_SOURCE_DIR) or, for a test started by hand, from the source tree it
// was built from, else from the working folder up.
inline std::filesystem::path fixturesFolder() {
  const char* source = std::getenv("PELORIN_TEST_SOURCE_DIR");
#ifdef PELORIN_SOURCE_DIR
  if (!source) source = PELORIN_SOURCE_DIR;
#endif
  std::filesystem::path dir = source ? std::filesystem::path(source) : std::filesystem::current_path();
  for (int i = 0; i < 6 && !dir.empty(); ++i) {
    auto candidate = dir / "tests" / "fixtures" / "dataapi";
    if (std::filesystem::is_directory(candidate)) return candidate;
    if (dir == dir.parent_path()) break;
    dir = dir.parent_path();
  }
  return {};
}

// The bytes of one fixture; fails the test when it cannot be read.
inline std::string fixtureText(const std::string& name) {
  auto folder = fixturesFolder();
  EXPECT_FALSE(folder.empty()) << "no tests/fixtures/dataapi folder in the source tree";
  std::ifstream in(folder / name, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read fixture " << name;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The class of that name, or null.
inline ns::Class cls(const std::string& name) {
  return ns::NSClassFromString(name);
}

// The parsed tree of a JSON text; fails the test when it does not parse.
inline ns::Value tree(const std::string& text) {
  ns::Error error;
  ns::Value v = ApiJSONParser::objectWithString_error(text, &error);
  EXPECT_FALSE(v.isNil()) << text << ": " << error.description();
  return v;
}

// A tree as compact JSON text, "<none>" when it cannot be written.
inline std::string compact(const ns::Value& json) {
  return ApiJSONParser::stringWithObject_humanReadable_error(json, false, nullptr).value_or("<none>");
}

// The words of a text, each with the prefix in front: lets a table list many names on few lines.
inline std::vector<std::string> words(const std::string& text, const std::string& prefix = "") {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string word; in >> word;) out.push_back(prefix + word);
  return out;
}

}  // namespace googletest
