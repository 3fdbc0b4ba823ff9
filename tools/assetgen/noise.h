// Periodic noise for the generated photographs.
//
// Every function here tiles the plane: a fractal over the unit torus takes
// coordinates u, v where u + 1 and v + 1 give the same value, so an image that
// samples u = (column + 0.5) / width repeats without a seam. Lattice noise
// takes lattice coordinates and integer periods; octaves double the period
// exactly and draw a fresh seed each, because rotating octaves or a
// non-integer lacunarity would break the tiling. Worley cells measure their
// distances toroidally. All functions are pure, thread-safe and never fail;
// periods must be at least 1.
#pragma once

#include <cstdint>

namespace sorvane::assetgen {

// 32-bit integer hash of a lattice point and a seed; uniform over all bits.
uint32_t HashLattice(int32_t x, int32_t y, uint32_t seed);

// Uniform value in [0, 1) from a hash.
inline float HashUnit(uint32_t h) { return float(h >> 8) * (1.0f / 16777216.0f); }

// Gradient noise at lattice coordinates (x, y), periodic with periodX columns
// and periodY rows of lattice cells. Roughly in [-1, 1], zero at lattice points.
float GradientNoise(float x, float y, int periodX, int periodY, uint32_t seed);

// A fractal sum of gradient-noise octaves over the unit torus. Octave k has
// period basePeriod * 2^k along u (basePeriodY * 2^k along v), amplitude
// gain^k and seed seed + k. The sum is divided by the total amplitude, so it
// stays roughly in [-1, 1]. A width of 1024 pixels reaches two pixels per
// cell with basePeriod * 2^(octaves - 1) = 512.
struct Fractal {
  int basePeriod = 4;
  int octaves = 8;
  float gain = 0.5f;
  uint32_t seed = 1;
  int basePeriodY = 0;  // 0: same as basePeriod (isotropic)
};

// Plain fractal sum (fBm), roughly in [-1, 1].
float Fbm(const Fractal& f, float u, float v);

// Turbulence: the fractal sum of |noise|, creased where each octave crosses
// zero. In [0, 1].
float Turbulence(const Fractal& f, float u, float v);

// Ridged fractal: each octave folded to 1 - |n| and squared, weighted by the
// previous octave so ridges stay sharp where they are high. In [0, 1].
float RidgedFbm(const Fractal& f, float u, float v);

// Worley cells on the unit torus: cellsX x cellsY cells, one jittered
// feature point each (cellsY of 0 means square cells). Distances are
// measured in cell units, so unequal counts stretch the cells. Borders
// gather near the lattice lines between cells; the lattice is offset by half
// a cell, so u = 0 and v = 0 (a tile's edges) lie midway between them.
struct CellSample {
  float nearest;     // distance to the nearest feature point, in cell units
  float second;      // distance to the second nearest
  float border;      // distance to the nearest cell border, in cell units
  uint32_t cellId;   // hash identifying the nearest cell, stable across tiles
};
CellSample Worley(float u, float v, int cellsX, uint32_t seed, int cellsY = 0);

}  // namespace sorvane::assetgen
