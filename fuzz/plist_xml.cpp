// XML property lists (and whatever else the reader detects in the bytes).
#include <cstdint>

#include "fuzz/PropertyListFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::propertyListRoundTrip(ns::Data(data, size));
  return 0;
}
