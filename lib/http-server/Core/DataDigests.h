#pragma once
// Digests, hexadecimal and base64 over byte buffers, as the authentication, WebSocket and
// multipart code use them.
#include <string>

#include "platform/core/Data.h"

struct DataDigests {
  static ns::Data md5Digest(const ns::Data& data);
  static ns::Data sha1Digest(const ns::Data& data);
  // Lower-case, two digits a byte, no separators.
  static std::string hexStringValue(const ns::Data& data);
  // Standard alphabet, "=" padding, no line breaks.
  static std::string base64Encoded(const ns::Data& data);
  // Lenient: characters outside the alphabet are skipped, the first "=" ends the data.
  static ns::Data base64Decoded(const ns::Data& data);
};
