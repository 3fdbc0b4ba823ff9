#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tools/assetgen/noise.h"

namespace sorvane::assetgen {
namespace {

// Dyadic sample points: adding a whole period to them is exact in float,
// so periodicity can be checked bit for bit.
std::vector<float> Points() {
  std::vector<float> p;
  for (int i = 0; i < 37; ++i) p.push_back(float((i * 173) % 1024) / 1024.0f + 1.0f / 2048.0f);
  return p;
}

TEST(Noise, LatticeNoiseRepeatsExactlyWithItsPeriods) {
  for (int px : {1, 3, 8, 64})
    for (int py : {1, 5, 8}) {
      for (float a : Points())
        for (float b : {0.125f, 0.5f, 0.9375f}) {
          const float x = a * float(px), y = b * float(py);
          const float n = GradientNoise(x, y, px, py, 7);
          EXPECT_EQ(n, GradientNoise(x + float(px), y, px, py, 7));
          EXPECT_EQ(n, GradientNoise(x, y + float(py), px, py, 7));
          EXPECT_EQ(n, GradientNoise(x - 2.0f * float(px), y - float(py), px, py, 7));
        }
    }
}

TEST(Noise, FractalsAndCellsRepeatOverTheUnitTorus) {
  const Fractal iso{4, 8, 0.5f, 11}, aniso{2, 6, 0.6f, 12, 32};
  for (float u : Points())
    for (float v : Points()) {
      EXPECT_EQ(Fbm(iso, u, v), Fbm(iso, u + 1.0f, v));
      EXPECT_EQ(Fbm(iso, u, v), Fbm(iso, u, v - 1.0f));
      EXPECT_EQ(Fbm(aniso, u, v), Fbm(aniso, u + 1.0f, v + 1.0f));
      EXPECT_EQ(RidgedFbm(iso, u, v), RidgedFbm(iso, u - 1.0f, v + 2.0f));
      EXPECT_EQ(Turbulence(iso, u, v), Turbulence(iso, u + 1.0f, v));
      const CellSample a = Worley(u, v, 7, 3), b = Worley(u + 1.0f, v - 1.0f, 7, 3);
      EXPECT_EQ(a.cellId, b.cellId);
      EXPECT_FLOAT_EQ(a.nearest, b.nearest);
      EXPECT_FLOAT_EQ(a.border, b.border);
      const CellSample c = Worley(u, v, 12, 3, 2), d = Worley(u, v + 1.0f, 12, 3, 2);
      EXPECT_EQ(c.cellId, d.cellId);
      EXPECT_FLOAT_EQ(c.border, d.border);
    }
}

TEST(Noise, ValuesAreBoundedVariedAndContinuous) {
  const Fractal f{4, 8, 0.5f, 21};
  double sum = 0.0, sum2 = 0.0, largestStep = 0.0;
  const int n = 256;
  float previous = Fbm(f, 0.5f / n, 0.3f);
  for (int i = 0; i < n * n; ++i) {
    const float u = (float(i % n) + 0.5f) / n, v = (float(i / n) + 0.5f) / n;
    const float x = Fbm(f, u, v);
    ASSERT_GE(x, -1.0f);
    ASSERT_LE(x, 1.0f);
    sum += x;
    sum2 += double(x) * x;
    const float r = RidgedFbm(f, u, v);
    ASSERT_GE(r, 0.0f);
    ASSERT_LE(r, 1.0f);
    if (i % n) largestStep = std::max(largestStep, double(std::fabs(x - previous)));
    previous = x;
  }
  const double mean = sum / (n * n), sd = std::sqrt(sum2 / (n * n) - mean * mean);
  EXPECT_LT(std::fabs(mean), 0.1);
  EXPECT_GT(sd, 0.1);
  // At 256 samples per image the coarse octaves must move smoothly.
  EXPECT_LT(largestStep, 0.25);
  // Different seeds give different fields.
  EXPECT_NE(Fbm(f, 0.3f, 0.7f), Fbm(Fractal{4, 8, 0.5f, 22}, 0.3f, 0.7f));
}

TEST(Noise, CellBorderDistanceMatchesTheNearestPoints) {
  for (float u : Points())
    for (float v : Points()) {
      const CellSample s = Worley(u, v, 6, 9);
      EXPECT_LE(s.nearest, s.second);
      // Every bisector lies at least half the gap between the two nearest
      // distances away, so the border cannot be closer than that.
      EXPECT_GE(s.border, 0.5f * (s.second - s.nearest) - 1e-5f);
      // Anything closer than the border distance belongs to the same cell.
      const float step = 0.9f * s.border / 6.0f;
      for (int dir = 0; dir < 8; ++dir) {
        const float a = float(dir) * 0.785398f;
        EXPECT_EQ(Worley(u + step * std::cos(a), v + step * std::sin(a), 6, 9).cellId, s.cellId);
      }
    }
}

// Feature points keep away from their cells' edges, so borders gather along
// the lattice lines; a lattice line on the tile's edge makes the edge row and
// column the busiest of the image and reads as a seam.
TEST(Noise, CellBordersDoNotGatherOnTheTileEdge) {
  const int n = 512;
  for (int cells : {6, 8, 9, 16})
    for (uint32_t seed : {3u, 0x570eu, 0xa1u, 0x9175u}) {
      SCOPED_TRACE(testing::Message() << cells << " cells, seed " << seed);
      // Share of samples within a tenth of a cell of a border: along the
      // tile's edges, and over the whole tile.
      int edge = 0, all = 0;
      for (int i = 0; i < n; ++i) {
        const float t = (float(i) + 0.5f) / float(n), e = 0.5f / float(n);
        edge += Worley(e, t, cells, seed).border < 0.1f;
        edge += Worley(t, e, cells, seed).border < 0.1f;
        for (int j = 0; j < n; j += 8)
          all += Worley(t, (float(j) + 0.5f) / float(n), cells, seed).border < 0.1f;
      }
      EXPECT_LT(double(edge) / (2.0 * n), double(all) / (n * (n / 8.0)));
    }
}

}  // namespace
}  // namespace sorvane::assetgen
