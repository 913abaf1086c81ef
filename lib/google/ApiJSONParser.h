#pragma once
// The one place where JSON text becomes the model's mutable tree (ApiJSON.h) and back. Reading
// follows the platform serialiser's rules: integers are signed 64-bit numbers (unsigned 64-bit
// above that range), other numbers doubles, key order is kept, nesting deeper than 512 levels
// is refused, and errors are NSCocoaErrorDomain 3840 with "NSJSONSerializationErrorIndex".
// The top level must be an object or an array.
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

class ApiJSONParser {
 public:
  // The tree (an ApiJSONDictionary or ApiJSONArray reference), nil with the error on failure.
  static ns::Value objectWithData_error(const ns::Data& data, ns::Error* error);
  static ns::Value objectWithString_error(const std::string& text, ns::Error* error);

  // Writes a tree, a plain Value or a mix of both: compact, or pretty-printed when human
  // readable. nullopt for a nil object (no error) or a value that JSON cannot hold (with the
  // serialiser's write error).
  static std::optional<ns::Data> dataWithObject_humanReadable_error(const ns::Value& object,
                                                                    bool humanReadable, ns::Error* error);
  static std::optional<std::string> stringWithObject_humanReadable_error(const ns::Value& object,
                                                                         bool humanReadable,
                                                                         ns::Error* error);
};
