#include "platform/core/Object.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <typeinfo>

namespace ns {

namespace detail {
void (*objectDestroyedHook)(Object*) = nullptr;
}  // namespace detail

Object::~Object() {
  if (detail::objectDestroyedHook) detail::objectDestroyedHook(this);
}

std::string Object::className() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled) ? demangled : mangled;
  std::free(demangled);
  // The system's classes live in the global namespace; platform classes drop their namespace
  // prefix the way the framework names do.
  auto pos = name.rfind("::");
  if (pos != std::string::npos) name = name.substr(pos + 2);
  return name;
}

std::string Object::description() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, ": %p>", static_cast<const void*>(this));
  return "<" + className() + buf;
}

}  // namespace ns
