#pragma once
// JSON text to and from ns::Value. Reading: integers become signed 64-bit numbers (unsigned
// 64-bit when above the signed range), numbers with a fraction or exponent doubles, true/false
// booleans, null the null marker; dictionaries keep the order of the text. Writing escapes "/"
// as "\/" and writes every number by its kind. Errors carry the position of the fault under
// "NSJSONSerializationErrorIndex".
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/serialization/CocoaErrors.h"

namespace ns {

enum JSONReadingOptions : unsigned {
  // Values are immutable here; the two mutability options are accepted and change nothing.
  JSONReadingMutableContainers = 1,
  JSONReadingMutableLeaves = 2,
  JSONReadingFragmentsAllowed = 4,
  JSONReadingAllowFragments = 4,
};

enum JSONWritingOptions : unsigned {
  JSONWritingPrettyPrinted = 1,
  JSONWritingSortedKeys = 2,
  JSONWritingFragmentsAllowed = 4,
  JSONWritingWithoutEscapingSlashes = 8,
};

inline constexpr char NSJSONSerializationErrorIndex[] = "NSJSONSerializationErrorIndex";

class JSONSerialization {
 public:
  // True for an array or dictionary (or, with fragments, any value) made only of strings with
  // valid UTF-8, finite numbers, the null marker, arrays and dictionaries with string keys.
  static bool isValidJSONObject(const Value& value, unsigned options = 0);

  // Nil with an NSPropertyListReadCorruptError (3840) for text that is not valid JSON, not
  // UTF-8/16, nested deeper than 512 levels, or (without fragments) not an array or dictionary.
  static Value JSONObjectWithData_options_error(const Data& data, unsigned options, Error* error);
  static Value JSONObjectWithString(const std::string& text, unsigned options = 0, Error* error = nullptr) {
    return JSONObjectWithData_options_error(Data(text), options, error);
  }

  // nullopt with an NSPropertyListWriteInvalidError (3852) for a value that JSON cannot hold.
  static std::optional<Data> dataWithJSONObject_options_error(const Value& value, unsigned options,
                                                              Error* error);
  static std::optional<std::string> stringWithJSONObject(const Value& value, unsigned options = 0,
                                                         Error* error = nullptr);
};

namespace detail {
// Appends `utf8` (already checked to be UTF-8) as a JSON string literal, quotes included, escaped
// as the serialiser writes strings; "/" is escaped unless told not to.
void appendJSONStringLiteral(std::string& out, std::string_view utf8, bool escapeSlashes = true);
// Whether `text` holds a NUL byte, which the reader would take for the end of the text: JSON text
// holds none, even inside strings. Sets the read error at its position when it does.
bool refuseNulInJSONText(std::string_view text, Error* error);
}  // namespace detail

}  // namespace ns
