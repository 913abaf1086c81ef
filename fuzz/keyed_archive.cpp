// Keyed archives. No class of ours is registered, so every object in the input is one of the
// platform's own (strings, numbers, data, dates, arrays, dictionaries, sets): damage must come
// back as nil or an error, never as an exception or a crash.
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "platform/serialization/KeyedUnarchiver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ns::Data input(data, size);
  ns::Error error;
  ns::KeyedUnarchiver::unarchiveTopLevelObjectWithData_error(input, &error);
  ns::KeyedUnarchiver::unarchivedObjectOfClasses_fromData_error(
      {"NSArray", "NSDictionary", "NSString", "NSNumber", "NSData", "NSDate", "NSSet"}, input, &error);
  ns::KeyedUnarchiver::unarchiveObjectWithData(input);
  return 0;
}
