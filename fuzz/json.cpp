// JSON documents: parsed with each reading option; what parses is written back and must parse again.
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "platform/serialization/JSONSerialization.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ns::Data input(data, size);
  for (unsigned options : {0u, unsigned(ns::JSONReadingAllowFragments | ns::JSONReadingMutableContainers)}) {
    ns::Error error;
    ns::Value value = ns::JSONSerialization::JSONObjectWithData_options_error(input, options, &error);
    if (value.isNil()) continue;
    unsigned writing = ns::JSONWritingFragmentsAllowed | ns::JSONWritingSortedKeys;
    auto written = ns::JSONSerialization::dataWithJSONObject_options_error(value, writing, &error);
    if (!written) fuzz::fail("a parsed document cannot be written back: " + error.description());
    ns::Value again = ns::JSONSerialization::JSONObjectWithData_options_error(
        *written, ns::JSONReadingAllowFragments, &error);
    if (again.isNil()) fuzz::fail("a written document does not parse: " + error.description());
  }
  return 0;
}
