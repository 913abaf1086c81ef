#include "platform/runtime/Raise.h"

#include <stdexcept>

namespace ns::runtime {

namespace {
struct PendingException : std::runtime_error {
  using std::runtime_error::runtime_error;
};
}  // namespace

void raise(const std::string& name, const std::string& reason) {
  throw PendingException(name + ": " + reason);
}

}  // namespace ns::runtime
