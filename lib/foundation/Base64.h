#pragma once
// Base64 coding with the standard alphabet. The decoder is lenient: it skips every byte outside
// the alphabet, padding included, and never reports an error. Both functions answer a buffer
// from malloc that the caller frees; the length comes back through `outLength` when given.
#include <cstddef>
#include <optional>
#include <string>

#include "platform/core/Data.h"

// `length` (size_t)-1 means `text` is NUL-terminated. Answers null (and a length of 0) only when
// the buffer cannot be had.
void* Base64DecodeBytes(const void* text, std::size_t length, std::size_t* outLength);
// A NUL-terminated text; with `separateLines`, lines of 64 characters joined by CR LF. Null when
// the buffer cannot be had.
char* Base64EncodeBytes(const void* bytes, std::size_t length, bool separateLines, std::size_t* outLength);

struct DataBase64 {
  // Empty data for nil, empty or non-ASCII text.
  static ns::Data dataFromBase64String(const std::optional<std::string>& text);
  // Always breaks lines.
  static std::string base64EncodedString(const ns::Data& data);
  static std::string base64EncodedStringWithSeparateLines(const ns::Data& data, bool separateLines);
};
