#pragma once
// The root class of forwarding proxies (NSProxy): it answers little itself and hands messages
// to forwardingTargetForSelector: or methodSignatureForSelector:/forwardInvocation:, which
// subclasses register.
#include "platform/core/Object.h"

namespace ns {

class Proxy : public Object {
 public:
  std::string className() const override { return "NSProxy"; }
};

}  // namespace ns
