#pragma once
// Small encoded images for tests of code that decodes replies or files: a JPEG of one grey, and a
// fixed 3x1 GIF (red, transparent, blue).
#include <cstdint>

#include "platform/core/Data.h"

namespace pltest {

ns::Data jpegOf(int width, int height, std::uint8_t gray);
ns::Data gifOf();

}  // namespace pltest
