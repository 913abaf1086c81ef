#pragma once
// The property-list targets' common check: whatever parses is written back in both formats,
// and what we write must parse again.
#include "fuzz/FuzzSupport.h"
#include "platform/serialization/PropertyListSerialization.h"

namespace fuzz {

inline void propertyListRoundTrip(const ns::Data& input) {
  using ns::PropertyListSerialization;
  ns::PropertyListFormat format{};
  ns::Error error;
  ns::Value value = PropertyListSerialization::propertyListWithData_options_format_error(
      input, ns::PropertyListMutableContainersAndLeaves, &format, &error);
  if (value.isNil()) return;
  for (auto out : {ns::PropertyListXMLFormat_v1_0, ns::PropertyListBinaryFormat_v1_0}) {
    auto written =
        PropertyListSerialization::dataWithPropertyList_format_options_error(value, out, 0, &error);
    if (!written) continue;  // a value one format cannot hold (a date or key the other allows)
    ns::Error again;
    if (PropertyListSerialization::propertyListWithData(*written, &again).isNil())
      fail("a property list we wrote does not parse: " + again.description());
  }
}

}  // namespace fuzz
