#pragma once
// Property-list files, as arrays and dictionaries read and write themselves: XML on writing,
// either form on reading, atomically when asked (see FileIO.h).
#include <string>

#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace ns {

// False when the value is no property list or the file cannot be written.
bool writePropertyListToFile_atomically(const Value& plist, const std::string& path, bool atomically,
                                        Error* error = nullptr);
// The property list in the file, or nil when it cannot be read or parsed.
Value propertyListWithContentsOfFile(const std::string& path, Error* error = nullptr);
// Nil unless the file holds a dictionary (or an array).
Value dictionaryWithContentsOfFile(const std::string& path);
Value arrayWithContentsOfFile(const std::string& path);

}  // namespace ns
