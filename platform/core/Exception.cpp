#include "platform/core/Exception.h"

namespace ns {

Exception::Exception(std::string name, std::string reason, Dictionary userInfo)
    : name_(std::move(name)), reason_(std::move(reason)), userInfo_(std::move(userInfo)) {
  what_ = name_ + ": " + reason_;
}

void Exception::raise(std::string name, std::string reason) {
  throw Exception(std::move(name), std::move(reason));
}

void Exception::raise() const {
  throw *this;
}

}  // namespace ns
