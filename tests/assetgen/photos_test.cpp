#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

#include "gpu/normal_map.h"
#include "tests/assetgen/support.h"

namespace sorvane::assetgen::test {
namespace {

const char* const kPhotos[] = {"311_18.jpg", "162_05.jpg", "308_18.jpg",
                               "001_14.jpg", "003_14.jpg", "003_01.jpg"};

double Mean(const std::vector<int>& v) {
  return std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
}

double StdDev(const std::vector<double>& v) {
  const double mean = std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
  double s = 0.0;
  for (double x : v) s += (x - mean) * (x - mean);
  return std::sqrt(s / double(v.size()));
}

// Baseline JPEG luminance quantisation table (ITU T.81 Annex K) as libjpeg
// scales it for a quality of 90.
int LuminanceTableSumAtQuality90() {
  static const int kBase[64] = {
      16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
      14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
      18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
      49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
  int sum = 0;
  for (int q : kBase) sum += std::max(1, (q * 20 + 50) / 100);
  return sum;
}

// Reads the frame header's sampling factors and the first quantisation
// table's sum straight from the JPEG markers.
struct JpegHeader {
  std::vector<int> sampling;  // (H << 4) | V per component
  int firstTableSum = -1;
};
JpegHeader ParseJpeg(const std::vector<uint8_t>& b) {
  JpegHeader h;
  size_t i = 2;
  while (i + 4 <= b.size() && b[i] == 0xFF) {
    const int marker = b[i + 1];
    const size_t length = size_t(b[i + 2]) << 8 | b[i + 3];
    const size_t body = i + 4;
    if (marker == 0xDB && h.firstTableSum < 0 && body < b.size()) {
      const bool wide = b[body] >> 4;
      int sum = 0;
      for (size_t k = 0; k < 64; ++k)
        sum += wide ? (b[body + 1 + 2 * k] << 8 | b[body + 2 + 2 * k]) : b[body + 1 + k];
      h.firstTableSum = sum;
    }
    if (marker >= 0xC0 && marker <= 0xC2 && body + 6 <= b.size()) {
      const int components = b[body + 5];
      for (int c = 0; c < components; ++c) h.sampling.push_back(b[body + 6 + 3 * size_t(c) + 1]);
    }
    if (marker == 0xDA) break;  // image data follows
    i += 2 + length;
  }
  return h;
}

TEST(Photos, DecodeAtFullSizeWithFullChromaAndHighQuality) {
  for (const char* name : kPhotos) {
    SCOPED_TRACE(name);
    const Decoded image = LoadImage(RunPath(name));
    ASSERT_EQ(image.width, 1024);
    ASSERT_EQ(image.height, 1024);
    const std::string bytes = ReadFile(RunPath(name));
    const JpegHeader header = ParseJpeg({bytes.begin(), bytes.end()});
    ASSERT_EQ(header.sampling.size(), 3u);
    for (int s : header.sampling) EXPECT_EQ(s, 0x11) << "chroma is subsampled";
    EXPECT_GT(header.firstTableSum, 0);
    EXPECT_LE(header.firstTableSum, LuminanceTableSumAtQuality90());
  }
}

TEST(Photos, TileWithoutSeamsAndShowSmoothToneWithoutBanding) {
  for (const char* name : kPhotos) {
    SCOPED_TRACE(name);
    const Decoded image = LoadImage(RunPath(name));
    ASSERT_EQ(image.width, 1024);
    const std::vector<int> grey = Grey(image);
    EXPECT_LE(SeamRatio(grey, image.width, image.height, true), 1.5);
    EXPECT_LE(SeamRatio(grey, image.width, image.height, false), 1.5);

    std::vector<double> values(grey.begin(), grey.end());
    EXPECT_GE(StdDev(values) / 255.0, 0.10);

    std::vector<int> histogram(256, 0);
    for (int g : grey) ++histogram[size_t(g)];
    std::vector<int> sorted = grey;
    std::sort(sorted.begin(), sorted.end());
    const int p1 = sorted[sorted.size() / 100], p99 = sorted[sorted.size() * 99 / 100];
    for (int level = p1; level <= p99; ++level)
      EXPECT_GT(histogram[size_t(level)], 0) << "empty grey level " << level;
  }
}

TEST(Photos, VeilLayersAreLightAndCarryColour) {
  // These multiply the picture: a dark veil would drown the relief.
  for (const char* name : {"001_14.jpg", "003_14.jpg", "003_01.jpg"}) {
    SCOPED_TRACE(name);
    const Decoded image = LoadImage(RunPath(name));
    ASSERT_EQ(image.width, 1024);
    EXPECT_GE(Mean(Grey(image)) / 255.0, 0.6);
  }
  // Every photograph has colour, not just grey: the channels differ.
  for (const char* name : kPhotos) {
    SCOPED_TRACE(name);
    const Decoded image = LoadImage(RunPath(name));
    double chroma = 0.0;
    for (size_t i = 0; i < image.pixels.size(); i += 3)
      chroma += std::abs(int(image.pixels[i]) - int(image.pixels[i + 2]));
    EXPECT_GT(chroma / double(image.pixels.size() / 3), 8.0);
  }
}

// Length of the tilt of each normal the demo's normal map builds from the
// image's grey value.
std::vector<double> Tilts(Decoded rgba) {
  const int w = rgba.width, h = rgba.height;
  std::vector<double> tilt(size_t(w) * size_t(h));
  GreyToAlpha(rgba.pixels.data(), w, h);
  BuildNormalMap(w, h, rgba.pixels.data());
  for (size_t i = 0; i < tilt.size(); ++i)
    tilt[i] = std::hypot(double(rgba.pixels[4 * i]) - 128.0, double(rgba.pixels[4 * i + 2]) - 128.0);
  return tilt;
}

TEST(Photos, ReliefSourceHasMidScaleRelief) {
  const Decoded full = LoadImage(RunPath("311_18.jpg"), 4);
  ASSERT_EQ(full.width, 1024);
  const std::vector<double> tilt = Tilts(full);
  const double mean = std::accumulate(tilt.begin(), tilt.end(), 0.0) / double(tilt.size());
  EXPECT_GT(mean, 8.0) << "the relief is nearly flat";
  EXPECT_GT(StdDev(tilt), 0.5 * mean) << "slopes are all alike: no shape";
  const auto steep = std::count_if(tilt.begin(), tilt.end(), [](double t) { return t > 100.0; });
  EXPECT_LT(double(steep) / double(tilt.size()), 0.15) << "mostly cliffs: relief too harsh";

  // The shape survives averaging 8 x 8 blocks, so it is stones and ridges,
  // not only pixel grain.
  Decoded coarse;
  coarse.width = coarse.height = 128;
  coarse.channels = 4;
  coarse.pixels.assign(size_t(128) * 128 * 4, 255);
  for (int by = 0; by < 128; ++by)
    for (int bx = 0; bx < 128; ++bx)
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x) sum += full.At(bx * 8 + x, by * 8 + y)[c];
        coarse.pixels[(size_t(by) * 128 + size_t(bx)) * 4 + size_t(c)] = uint8_t(sum / 64);
      }
  const std::vector<double> coarseTilt = Tilts(coarse);
  const double coarseMean =
      std::accumulate(coarseTilt.begin(), coarseTilt.end(), 0.0) / double(coarseTilt.size());
  EXPECT_GT(coarseMean, 8.0);
  EXPECT_GT(StdDev(coarseTilt), 0.5 * coarseMean);
}

}  // namespace
}  // namespace sorvane::assetgen::test
