// 8-bit RGB images and their JPEG encoding.
//
// An RgbImage holds width x height pixels, rows from top to bottom without
// padding, three bytes (R, G, B) per pixel. EncodeJpeg compresses one with
// libjpeg into baseline JFIF bytes at the given quality (1 to 100) with all
// three components at full resolution (4:4:4, no chroma subsampling); the
// same image always gives the same bytes. It throws std::runtime_error with
// libjpeg's message if the encoder refuses the image (for instance an empty
// one); it never exits the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sorvane::assetgen {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width * height * 3 bytes

  RgbImage() = default;
  RgbImage(int w, int h) : width(w), height(h), pixels(size_t(w) * size_t(h) * 3, 0) {}
  uint8_t* At(int x, int y) { return pixels.data() + (size_t(y) * size_t(width) + size_t(x)) * 3; }
  const uint8_t* At(int x, int y) const {
    return pixels.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
  }
};

std::vector<uint8_t> EncodeJpeg(const RgbImage& image, int quality);

}  // namespace sorvane::assetgen
