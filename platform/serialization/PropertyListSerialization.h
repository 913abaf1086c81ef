#pragma once
// Property lists in XML and binary form, read into and written from ns::Value. Reading detects
// the form. Numbers keep their sign and width: a negative integer stays signed and an unsigned
// 64-bit value above the signed range stays unsigned, in both forms. Dates (to the microsecond
// between 1933 and 2069, to the second from year 0 to 9999), data and UIDs are kept; the null
// marker, sets and other objects cannot be stored and give an error.
#include <optional>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/serialization/CocoaErrors.h"

namespace ns {

enum PropertyListFormat : unsigned {
  PropertyListOpenStepFormat = 1,
  PropertyListXMLFormat_v1_0 = 100,
  PropertyListBinaryFormat_v1_0 = 200,
};

// Values are immutable here, so the mutability options only exist to be passed along.
enum PropertyListMutabilityOptions : unsigned {
  PropertyListImmutable = 0,
  PropertyListMutableContainers = 1,
  PropertyListMutableContainersAndLeaves = 2,
};

class PropertyListSerialization {
 public:
  // nullopt with an NSPropertyListWriteInvalidError for a value that the format cannot hold.
  static std::optional<Data> dataWithPropertyList_format_options_error(const Value& plist,
                                                                       PropertyListFormat format,
                                                                       unsigned options, Error* error);
  // Nil with an NSPropertyListReadCorruptError for data that is no property list (or an
  // old-style text one, which is not read here). `format`, when given, receives the form read.
  static Value propertyListWithData_options_format_error(const Data& data, unsigned options,
                                                         PropertyListFormat* format, Error* error);
  static bool propertyList_isValidForFormat(const Value& plist, PropertyListFormat format);

  // Conveniences for the common calls.
  static std::optional<Data> xmlData(const Value& plist, Error* error = nullptr) {
    return dataWithPropertyList_format_options_error(plist, PropertyListXMLFormat_v1_0, 0, error);
  }
  static std::optional<Data> binaryData(const Value& plist, Error* error = nullptr) {
    return dataWithPropertyList_format_options_error(plist, PropertyListBinaryFormat_v1_0, 0, error);
  }
  static Value propertyListWithData(const Data& data, Error* error = nullptr) {
    return propertyListWithData_options_format_error(data, PropertyListImmutable, nullptr, error);
  }
};

}  // namespace ns
