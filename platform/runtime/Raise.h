#pragma once
// Raising the platform's named exceptions from runtime code.
#include <string>

namespace ns::runtime {

[[noreturn]] void raise(const std::string& name, const std::string& reason);

}  // namespace ns::runtime
