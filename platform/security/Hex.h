#pragma once
// Hexadecimal text of byte strings.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Data.h"

namespace sec {

// Two digits per byte, no separators; lower case ("%02x") unless upperCase.
std::string hexEncode(const void* bytes, std::size_t length, bool upperCase = false);
std::string hexEncode(std::string_view bytes, bool upperCase = false);
std::string hexEncode(const ns::Data& bytes, bool upperCase = false);

// The bytes of an even-length run of hexadecimal digits (either case); nullopt for an odd
// length or any other character.
std::optional<std::string> hexDecode(std::string_view text);
std::optional<ns::Data> hexDecodeData(std::string_view text);

}  // namespace sec
