#pragma once
// A thread-safe set of logging context numbers, shared by the context filter formatters.
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "platform/core/Object.h"

class LoggingContextSet : public ns::Object {
 public:
  // Contexts are held as records store them: a negative int context sign-extended to 64 bits.
  void addToSet(std::uint64_t loggingContext);
  void removeFromSet(std::uint64_t loggingContext);
  bool isInSet(std::uint64_t loggingContext);
  // The numbers, in no particular order.
  std::vector<std::uint64_t> currentSet();

 private:
  std::mutex lock_;
  std::set<std::uint64_t> set_;
};
