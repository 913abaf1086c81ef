// Binary property lists: input without the binary header gets one, so that mutations reach the
// binary reader's offset table and objects instead of being refused at the first byte.
#include <cstdint>
#include <string>

#include "fuzz/PropertyListFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.rfind("bplist", 0) != 0) bytes.insert(0, "bplist00");
  fuzz::propertyListRoundTrip(ns::Data(bytes));
  return 0;
}
