#pragma once
// The TLS start marker: queued in both the read and the write queue so that the upgrade takes
// effect exactly after the reads and writes queued before it.
#include "platform/core/Object.h"
#include "platform/core/Value.h"

class DispatchSpecialPacket : public ns::Object {
 public:
  explicit DispatchSpecialPacket(ns::Value tlsSettings) : tlsSettings(std::move(tlsSettings)) {}

  ns::Value tlsSettings;
};
