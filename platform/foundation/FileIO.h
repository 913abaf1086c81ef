#pragma once
// Reading and writing whole files, with the platform's errors: NSCocoaErrorDomain codes (260 no
// such file when reading, 4 when writing, 257/513 no permission, 516 exists, 640 out of space...)
// that carry the path under NSFilePath and the POSIX error under NSUnderlyingError.
// An atomic write goes to a hidden side file in the same folder and is then renamed over the
// target, so a reader sees the old file or the new one, never a part. It is not flushed to disk
// (no fsync), as on the original platform: small settings files are written often.
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/serialization/CocoaErrors.h"

namespace ns {

enum DataWritingOptions : unsigned {
  DataWritingAtomic = 1,
  DataWritingWithoutOverwriting = 2,
};

std::optional<Data> dataWithContentsOfFile(const std::string& path, Error* error = nullptr);
bool writeDataToFile(const Data& data, const std::string& path, unsigned options, Error* error = nullptr);
inline bool writeToFile_atomically(const Data& data, const std::string& path, bool atomically) {
  return writeDataToFile(data, path, atomically ? unsigned(DataWritingAtomic) : 0u, nullptr);
}

// UTF-8 text. Reading bytes that are not UTF-8 gives NSFileReadInapplicableStringEncodingError.
std::optional<std::string> stringWithContentsOfFile(const std::string& path, Error* error = nullptr);
bool writeStringToFile(const std::string& text, const std::string& path, bool atomically,
                       Error* error = nullptr);

// The Cocoa error for a failed file operation on `path` with the given errno value.
Error fileError(int errnoValue, const std::string& path, bool writing);

}  // namespace ns
