// The relief normal map against the published texel values and against a
// plain reference written from the definition, without a GL context.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "gpu/normal_map.h"

namespace {

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// Straight from the definition: unnormalised normal, bit-pattern inverse
// square root with one Newton step (double, rounded once), float components,
// channel = floor(128 × n + 128) taken in double.
Rgb Reference(int dx, int dy) {
  const float nx = -10.0f * static_cast<float>(dx);
  const float ny = -10.0f * static_cast<float>(dy);
  const float nz = 100.0f;
  const float s = nx * nx + ny * ny + nz * nz;
  uint32_t bits;
  std::memcpy(&bits, &s, sizeof bits);
  bits = 1597463007u - (bits >> 1);
  float y0;
  std::memcpy(&y0, &bits, sizeof y0);
  const float half = 0.5f * s;
  double t = static_cast<double>(half) * y0;
  t = t * y0;
  t = 1.5 - t;
  const float y1 = static_cast<float>(t * y0);
  const float cx = nx * y1, cy = ny * y1, cz = nz * y1;
  return Rgb{static_cast<int>(std::floor(128.0 * cx + 128.0)),
             static_cast<int>(std::floor(128.0 * cz + 128.0)),
             static_cast<int>(std::floor(128.0 * cy + 128.0))};
}

struct Image {
  int width, height;
  std::vector<uint8_t> px;
  Image(int w, int h) : width(w), height(h), px(4u * w * h, 0) {}
  uint8_t* at(int i, int j) { return &px[4u * (i * width + j)]; }
  Rgb rgb(int i, int j) { return Rgb{at(i, j)[0], at(i, j)[1], at(i, j)[2]}; }
  int alpha(int i, int j) { return at(i, j)[3]; }
};

// The texel of a pixel whose neighbours give (dx, dy): the centre of a 3 × 3
// image of heights, run through the real pass.
Rgb Texel(int dx, int dy) {
  Image img(3, 3);
  img.at(1, 2)[3] = static_cast<uint8_t>(dx > 0 ? dx : 0);
  img.at(1, 0)[3] = static_cast<uint8_t>(dx < 0 ? -dx : 0);
  img.at(2, 1)[3] = static_cast<uint8_t>(dy > 0 ? dy : 0);
  img.at(0, 1)[3] = static_cast<uint8_t>(dy < 0 ? -dy : 0);
  BuildNormalMap(3, 3, img.px.data());
  return img.rgb(1, 1);
}

// Every pixel of `img` (heights in A) against the reference, with the
// neighbourhood wrapped by modular arithmetic.
void ExpectMatchesReference(Image img) {
  Image out = img;
  BuildNormalMap(out.width, out.height, out.px.data());
  const int w = img.width, h = img.height;
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) {
      const int dx = img.alpha(i, (j + 1) % w) - img.alpha(i, (j + w - 1) % w);
      const int dy = img.alpha((i + 1) % h, j) - img.alpha((i + h - 1) % h, j);
      ASSERT_EQ(out.rgb(i, j), Reference(dx, dy)) << w << "x" << h << " at row " << i << " column " << j;
      ASSERT_EQ(out.alpha(i, j), img.alpha(i, j));
    }
}

Image RandomHeights(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  Image img(w, h);
  for (uint8_t& b : img.px) b = static_cast<uint8_t>(rng());
  return img;
}

}  // namespace

TEST(NormalMap, PublishedTexels) {
  struct Case {
    int dx, dy;
    Rgb rgb;
  };
  const Case cases[] = {
      {0, 0, {128, 255, 128}},    {1, 0, {115, 255, 128}},   {-1, 0, {140, 255, 128}},
      {2, 0, {102, 253, 128}},    {-2, 0, {153, 253, 128}},  {0, 2, {128, 253, 102}},
      {0, -2, {128, 253, 153}},   {3, 4, {93, 242, 82}},     {10, 0, {37, 218, 128}},
      {20, 0, {13, 185, 128}},    {-20, 0, {242, 185, 128}}, {255, 0, {0, 133, 128}},
      {-255, 0, {255, 133, 128}}, {255, 255, {37, 131, 37}},
  };
  for (const Case& c : cases) EXPECT_EQ(Texel(c.dx, c.dy), c.rgb) << "dx " << c.dx << " dy " << c.dy;

  // Sums just below an integer, which a float rounding would push up.
  EXPECT_EQ(Texel(-128, -84).b, 197);
  EXPECT_EQ(Texel(-253, -35).g, 132);
  EXPECT_EQ(Texel(-76, -3).b, 132);
}

TEST(NormalMap, EveryDifferencePairMatchesTheReference) {
  // All 511 × 511 pairs, each through the real pass.
  for (int dx = -255; dx <= 255; ++dx) {
    for (int dy = -255; dy <= 255; ++dy) {
      const Rgb got = Texel(dx, dy);
      ASSERT_EQ(got, Reference(dx, dy)) << "dx " << dx << " dy " << dy;
      ASSERT_LE(got.g, 255);
      ASSERT_GE(got.g, 131);
    }
  }
}

TEST(NormalMap, WrapsAroundTheEdges) {
  // 4 × 2, grey 0, 10, 20, 30 along each row.
  {
    Image img(4, 2);
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 4; ++j) std::memset(img.at(i, j), 10 * j, 3);
    GreyToAlpha(img.px.data(), 4, 2);
    BuildNormalMap(4, 2, img.px.data());
    const Rgb expected[4] = {{242, 185, 128}, {13, 185, 128}, {13, 185, 128}, {242, 185, 128}};
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(img.rgb(i, j), expected[j]) << "row " << i << " column " << j;
        EXPECT_EQ(img.alpha(i, j), 10 * j);
      }
  }
  // 8 columns, left half black, right half white.
  {
    Image img(8, 3);
    for (int i = 0; i < 3; ++i)
      for (int j = 4; j < 8; ++j) std::memset(img.at(i, j), 255, 3);
    GreyToAlpha(img.px.data(), 8, 3);
    BuildNormalMap(8, 3, img.px.data());
    const Rgb edge{0, 133, 128}, wrap{255, 133, 128}, flat{128, 255, 128};
    const Rgb expected[8] = {wrap, flat, flat, edge, edge, flat, flat, wrap};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 8; ++j) EXPECT_EQ(img.rgb(i, j), expected[j]) << "row " << i << " column " << j;
  }
  // The corners of a 5 × 4 image take their neighbours from the opposite
  // edges: only the pixels across the wrap differ from zero height.
  {
    Image img(5, 4);
    img.at(0, 4)[3] = 20;  // top right: left of (0, 0) across the wrap
    img.at(3, 0)[3] = 2;   // bottom left: above (0, 0) across the wrap
    BuildNormalMap(5, 4, img.px.data());
    EXPECT_EQ(img.rgb(0, 0), Reference(-20, -2));
    EXPECT_EQ(img.rgb(0, 3), Reference(20, 0));
    EXPECT_EQ(img.rgb(3, 4), Reference(2, 20));  // right is (3, 0), next row is row 0
    EXPECT_EQ(img.rgb(3, 1), Reference(-2, 0));
    EXPECT_EQ(img.rgb(1, 2), Reference(0, 0));
  }
  // Random heights at sizes that exercise the wrap in both directions and
  // rows longer than the pass processes at once.
  const int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {2, 2}, {3, 5}, {37, 23}, {257, 3}, {600, 4}, {513, 2}};
  unsigned seed = 1;
  for (const auto& s : sizes) ExpectMatchesReference(RandomHeights(s[0], s[1], seed++));
}

TEST(NormalMap, NarrowImagesHaveNoDifferenceAcrossTheNarrowAxis) {
  // One or two columns: both horizontal neighbours are the same pixel, so
  // dx = 0 (R = 128) whatever the heights; likewise rows and B.
  for (int narrow = 1; narrow <= 2; ++narrow) {
    Image cols = RandomHeights(narrow, 9, 40 + narrow);
    BuildNormalMap(cols.width, cols.height, cols.px.data());
    Image rows = RandomHeights(9, narrow, 50 + narrow);
    BuildNormalMap(rows.width, rows.height, rows.px.data());
    for (int k = 0; k < narrow * 9; ++k) {
      EXPECT_EQ(cols.px[4 * k + 0], 128) << narrow << " columns, pixel " << k;
      EXPECT_EQ(rows.px[4 * k + 2], 128) << narrow << " rows, pixel " << k;
    }
  }
}

TEST(NormalMap, UniformGreyIsFlatAtEveryLevel) {
  for (int grey : {0, 1, 77, 128, 254, 255}) {
    Image img(6, 5);
    for (int k = 0; k < 30; ++k) {
      std::memset(&img.px[4 * k], grey, 3);
      img.px[4 * k + 3] = 17;  // stale alpha is overwritten by the height
    }
    GreyToAlpha(img.px.data(), 6, 5);
    BuildNormalMap(6, 5, img.px.data());
    for (int k = 0; k < 30; ++k) {
      ASSERT_EQ((Rgb{img.px[4 * k], img.px[4 * k + 1], img.px[4 * k + 2]}), (Rgb{128, 255, 128})) << "grey " << grey;
      ASSERT_EQ(img.px[4 * k + 3], grey);
    }
  }
}

TEST(NormalMap, GreyToAlphaAveragesWithoutWeights) {
  Image img(3, 1);
  const uint8_t src[3][4] = {{10, 20, 31, 0}, {255, 255, 254, 99}, {0, 0, 2, 255}};
  std::memcpy(img.px.data(), src, sizeof src);
  GreyToAlpha(img.px.data(), 3, 1);
  const uint8_t expected[3][4] = {{10, 20, 31, 20}, {255, 255, 254, 254}, {0, 0, 2, 0}};
  EXPECT_EQ(std::memcmp(img.px.data(), expected, sizeof expected), 0);

  // BuildNormalMap reads heights only: colours left in R, G, B do not matter.
  Image a = RandomHeights(11, 7, 7);
  Image b = a;
  for (size_t k = 0; k < b.px.size(); k += 4) b.px[k] = b.px[k + 1] = b.px[k + 2] = 0;
  BuildNormalMap(11, 7, a.px.data());
  BuildNormalMap(11, 7, b.px.data());
  EXPECT_EQ(a.px, b.px);
}
