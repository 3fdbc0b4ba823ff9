#include "tools/capture/capture.h"

#include <png.h>

#include <cstdio>

bool WritePng(const std::string& path, const CaptureFrame& frame) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = png && info;
  if (ok && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(frame.width), static_cast<png_uint_32>(frame.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < frame.height; ++y)
      png_write_row(png, frame.rgb.data() + static_cast<size_t>(y) * frame.width * 3);
    png_write_end(png, info);
  } else {
    ok = false;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0 && ok;
}
