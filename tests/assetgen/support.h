// Shared helpers of the asset generator's tests: where the built assets
// are, decoding them with DevIL and libvorbisfile, grey-level statistics,
// and running the generator executable. Files and temporary folders are the
// workbench's (measure/workbench.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/workbench.h"

namespace sorvane::assetgen::test {

std::string RunDir();
std::string RunPath(const std::string& name);

// An image decoded by DevIL as 8-bit pixels with `channels` bytes each
// (3: RGB, 4: RGBA); empty (width 0) if DevIL cannot load it.
struct Decoded {
  int width = 0, height = 0, channels = 0;
  std::vector<uint8_t> pixels;
  const uint8_t* At(int x, int y) const {
    return pixels.data() + (size_t(y) * size_t(width) + size_t(x)) * size_t(channels);
  }
};
Decoded LoadImage(const std::string& path, int channels = 3);

// Grey value (R + G + B) / 3 of every pixel, 0..255.
std::vector<int> Grey(const Decoded& image);

// Mean |first - last| column (or row) over the mean difference of
// neighbouring columns (rows): about 1 for an image that tiles.
double SeamRatio(const std::vector<int>& grey, int width, int height, bool acrossColumns);

struct AudioTrack {
  int rate = 0, channels = 0;
  std::vector<float> left, right;
};
// Decodes a whole Ogg Vorbis file; channels 0 if it cannot be opened.
AudioTrack DecodeOgg(const std::string& path);

// Runs the generator with the given arguments; returns its exit status and
// fills what it printed on stdout and stderr.
int RunGenerator(const std::string& arguments, std::string& out, std::string& err);

}  // namespace sorvane::assetgen::test
