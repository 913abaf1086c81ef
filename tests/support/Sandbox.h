#pragma once
// The test kit's home-folder sandbox (platform/testing/Sandbox.h), for tests that build paths
// by appending text: root() and home() answer strings.
#include <string>

#include "platform/testing/Sandbox.h"

namespace testsupport {

class Sandbox : public pltest::Sandbox {
 public:
  std::string root() const { return pltest::Sandbox::root().string(); }
  std::string home() const { return pltest::Sandbox::home().string(); }
};

}  // namespace testsupport
