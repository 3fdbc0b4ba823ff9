#include "tools/assetgen/noise.h"

#include <algorithm>
#include <cmath>

namespace sorvane::assetgen {
namespace {

uint32_t Mix(uint32_t h) {
  h ^= h >> 16;
  h *= 0x7feb352du;
  h ^= h >> 15;
  h *= 0x846ca68bu;
  h ^= h >> 16;
  return h;
}

// Sixteen unit gradients, evenly spread and offset from the axes so that no
// octave shows a preferred direction.
struct GradientTable {
  float x[16], y[16];
  GradientTable() {
    for (int i = 0; i < 16; ++i) {
      double a = (i + 0.5) * (2.0 * 3.14159265358979323846 / 16.0);
      x[i] = float(std::cos(a));
      y[i] = float(std::sin(a));
    }
  }
};
const GradientTable kGradients;

inline int WrapIndex(int i, int period) {
  int r = i % period;
  return r < 0 ? r + period : r;
}

inline float Quintic(float t) { return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f); }

inline uint32_t OctaveSeed(uint32_t seed, int octave) {
  return seed + uint32_t(octave) * 0x9e3779b9u;
}

// A fixed sub-cell shift per octave and axis. Gradient noise changes a
// little faster (about a tenth) near its lattice lines than between them,
// and unshifted octaves would all put theirs on u = 0, making the tile's edge
// (and its halves, quarters...) slightly busier than the rest. Multiples of
// 1/256 keep dyadic coordinates exact in float, so periodicity stays exact.
inline float LatticeShift(uint32_t seed, uint32_t axis) {
  return float(Mix(seed ^ (axis * 0x68e31da4u)) >> 24) * (1.0f / 256.0f);
}

}  // namespace

uint32_t HashLattice(int32_t x, int32_t y, uint32_t seed) {
  return Mix(uint32_t(x) * 0x8da6b343u + Mix(uint32_t(y) + Mix(seed)));
}

float GradientNoise(float x, float y, int periodX, int periodY, uint32_t seed) {
  const float flx = std::floor(x), fly = std::floor(y);
  const float tx = x - flx, ty = y - fly;
  const int x0 = WrapIndex(int(flx), periodX), y0 = WrapIndex(int(fly), periodY);
  const int x1 = x0 + 1 == periodX ? 0 : x0 + 1;
  const int y1 = y0 + 1 == periodY ? 0 : y0 + 1;
  auto corner = [&](int gx, int gy, float dx, float dy) {
    const uint32_t g = HashLattice(gx, gy, seed) & 15u;
    return kGradients.x[g] * dx + kGradients.y[g] * dy;
  };
  const float n00 = corner(x0, y0, tx, ty);
  const float n10 = corner(x1, y0, tx - 1.0f, ty);
  const float n01 = corner(x0, y1, tx, ty - 1.0f);
  const float n11 = corner(x1, y1, tx - 1.0f, ty - 1.0f);
  const float sx = Quintic(tx), sy = Quintic(ty);
  const float a = n00 + (n10 - n00) * sx;
  const float b = n01 + (n11 - n01) * sx;
  // Unit gradients peak near 0.7; scale the range out to about [-1, 1].
  return (a + (b - a) * sy) * 1.41f;
}

float Fbm(const Fractal& f, float u, float v) {
  int px = f.basePeriod, py = f.basePeriodY > 0 ? f.basePeriodY : f.basePeriod;
  float sum = 0.0f, amp = 1.0f, norm = 0.0f;
  for (int k = 0; k < f.octaves; ++k) {
    const uint32_t seed = OctaveSeed(f.seed, k);
    sum += amp * GradientNoise(u * float(px) + LatticeShift(seed, 0),
                               v * float(py) + LatticeShift(seed, 1), px, py, seed);
    norm += amp;
    amp *= f.gain;
    px *= 2;
    py *= 2;
  }
  return norm > 0.0f ? sum / norm : 0.0f;
}

float Turbulence(const Fractal& f, float u, float v) {
  int px = f.basePeriod, py = f.basePeriodY > 0 ? f.basePeriodY : f.basePeriod;
  float sum = 0.0f, amp = 1.0f, norm = 0.0f;
  for (int k = 0; k < f.octaves; ++k) {
    const uint32_t seed = OctaveSeed(f.seed, k);
    sum += amp * std::fabs(GradientNoise(u * float(px) + LatticeShift(seed, 0),
                                         v * float(py) + LatticeShift(seed, 1), px, py, seed));
    norm += amp;
    amp *= f.gain;
    px *= 2;
    py *= 2;
  }
  return norm > 0.0f ? std::min(1.0f, sum / norm) : 0.0f;
}

float RidgedFbm(const Fractal& f, float u, float v) {
  int px = f.basePeriod, py = f.basePeriodY > 0 ? f.basePeriodY : f.basePeriod;
  float sum = 0.0f, amp = 1.0f, norm = 0.0f, weight = 1.0f;
  for (int k = 0; k < f.octaves; ++k) {
    const uint32_t seed = OctaveSeed(f.seed, k);
    float n = 1.0f - std::fabs(GradientNoise(u * float(px) + LatticeShift(seed, 0),
                                             v * float(py) + LatticeShift(seed, 1), px, py, seed));
    n = std::clamp(n, 0.0f, 1.0f);
    n *= n * weight;
    weight = std::clamp(n * 2.0f, 0.0f, 1.0f);
    sum += amp * n;
    norm += amp;
    amp *= f.gain;
    px *= 2;
    py *= 2;
  }
  return norm > 0.0f ? sum / norm : 0.0f;
}

CellSample Worley(float u, float v, int cellsX, uint32_t seed, int cellsY) {
  const int nx = cellsX, ny = cellsY > 0 ? cellsY : cellsX;
  // The feature points keep away from their cell's edges, so the bisector
  // between two neighbours lies near the lattice line between their cells:
  // borders gather along lattice lines. Half a cell of shift puts the image's
  // edges midway between lattice lines, where borders are rarest, instead of
  // on one, which would make the tile's edge the busiest column of all.
  const float x = u * float(nx) + 0.5f, y = v * float(ny) + 0.5f;
  const float flx = std::floor(x), fly = std::floor(y);
  const int ix = int(flx), iy = int(fly);
  const float fx = x - flx, fy = y - fly;

  // Feature point of the cell at offset (dx, dy) from the sample's cell,
  // relative to the sample. Cells are hashed by their wrapped index, so the
  // distances are toroidal. The jitter keeps points away from the cell edges,
  // which lets a 3 x 3 search find the nearest point.
  auto feature = [&](int dx, int dy, float& rx, float& ry) {
    const uint32_t h = HashLattice(WrapIndex(ix + dx, nx), WrapIndex(iy + dy, ny), seed);
    rx = float(dx) + 0.1f + 0.8f * HashUnit(h) - fx;
    ry = float(dy) + 0.1f + 0.8f * HashUnit(Mix(h)) - fy;
    return h;
  };

  CellSample s{1e9f, 1e9f, 1e9f, 0};
  float best2 = 1e18f, second2 = 1e18f, mx = 0.0f, my = 0.0f;
  int mdx = 0, mdy = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      float rx, ry;
      const uint32_t h = feature(dx, dy, rx, ry);
      const float d2 = rx * rx + ry * ry;
      if (d2 < best2) {
        second2 = best2;
        best2 = d2;
        mx = rx;
        my = ry;
        mdx = dx;
        mdy = dy;
        s.cellId = h;
      } else if (d2 < second2) {
        second2 = d2;
      }
    }
  }
  // Exact distance to the nearest border: the smallest distance to the
  // bisectors between the nearest point and its neighbours.
  for (int dy = mdy - 2; dy <= mdy + 2; ++dy) {
    for (int dx = mdx - 2; dx <= mdx + 2; ++dx) {
      if (dx == mdx && dy == mdy) continue;
      float rx, ry;
      feature(dx, dy, rx, ry);
      const float ex = rx - mx, ey = ry - my;
      const float len2 = ex * ex + ey * ey;
      if (len2 < 1e-12f) continue;
      const float d = ((mx + rx) * 0.5f * ex + (my + ry) * 0.5f * ey) / std::sqrt(len2);
      s.border = std::min(s.border, d);
    }
  }
  s.nearest = std::sqrt(best2);
  s.second = std::sqrt(second2);
  s.border = std::max(s.border, 0.0f);
  return s;
}

}  // namespace sorvane::assetgen
