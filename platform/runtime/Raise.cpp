#include "platform/runtime/Raise.h"

#include "platform/core/Exception.h"

namespace ns::runtime {

void raise(const std::string& name, const std::string& reason) {
  Exception::raise(name, reason);
}

}  // namespace ns::runtime
