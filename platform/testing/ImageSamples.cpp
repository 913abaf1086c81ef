#include "platform/testing/ImageSamples.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace pltest {

ns::Data jpegOf(int width, int height, std::uint8_t gray) {
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3, gray);
  while (info.next_scanline < info.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&info, &r, 1);
  }
  jpeg_finish_compress(&info);
  ns::Data data(out, size);
  jpeg_destroy_compress(&info);
  std::free(out);
  return data;
}

// The LZW data restarts with a clear code before each pixel so that every code is three bits wide.
ns::Data gifOf() {
  static const std::uint8_t bytes[] = {'G',  'I',  'F',  '8',  '9',  'a', 3, 0, 1,    0, 0x91, 0,
                                       0,  // screen, 4-colour table
                                       0xff, 0,    0,    0,    0,    0,   0, 0, 0xff, 0, 0,    0,  // colours
                                       0x21, 0xf9, 4,    1,    0,    0,   1, 0,  // transparent index 1
                                       0x2c, 0,    0,    0,    0,    3,   0, 1, 0,    0,  // image 3x1 at 0,0
                                       2,    3,    0x04, 0x43, 0x15, 0,  // LZW: 4 0 4 1 4 2 5
                                       0x3b};
  return ns::Data(bytes, sizeof bytes);
}

}  // namespace pltest
