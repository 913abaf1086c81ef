#include "platform/foundation/PropertyListFile.h"

#include "platform/foundation/FileIO.h"
#include "platform/serialization/PropertyListSerialization.h"

namespace ns {

bool writePropertyListToFile_atomically(const Value& plist, const std::string& path, bool atomically,
                                        Error* error) {
  auto data = PropertyListSerialization::xmlData(plist, error);
  if (!data) return false;
  return writeDataToFile(*data, path, atomically ? unsigned(DataWritingAtomic) : 0u, error);
}

Value propertyListWithContentsOfFile(const std::string& path, Error* error) {
  auto data = dataWithContentsOfFile(path, error);
  if (!data) return Value();
  return PropertyListSerialization::propertyListWithData(*data, error);
}

Value dictionaryWithContentsOfFile(const std::string& path) {
  Value v = propertyListWithContentsOfFile(path);
  return v.isDictionary() ? v : Value();
}

Value arrayWithContentsOfFile(const std::string& path) {
  Value v = propertyListWithContentsOfFile(path);
  return v.isArray() ? v : Value();
}

}  // namespace ns
