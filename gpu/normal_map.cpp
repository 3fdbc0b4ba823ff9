#include "gpu/normal_map.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// A value's bits as another type of the same size (std::bit_cast, which the
// browser build's standard library lacks).
template <typename To, typename From>
To BitsAs(const From& from) {
  static_assert(sizeof(To) == sizeof(From));
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}

// The normal of one pixel from its height differences dx = right − left and
// dy = next row − previous row (each −255..255). The unnormalised normal is
// the cross product of the tangents (10, 0, dx) and (0, 10, dy):
// (−10 dx, −10 dy, 100). It is scaled by the bit-pattern approximation of
// 1 / sqrt(S) with one Newton step, which lies up to about 0.18 % below the
// exact value; that shortfall is what keeps G below 256 for a flat area.
//
// The bytes are fixed by where values are rounded: the Newton step is
// evaluated in double and rounded once to float, each component n is rounded
// to float, and the channel is the integer part of 128 n + 128 taken without
// any further rounding (a float sum would turn 36 of the 261,121 possible
// pairs into the next integer up). Because 128 is a power of two, 128 n is
// exactly the float product (128 Nx) × y1, so the channel is computed as
// 128 + floor((128 Nx) × y1) in float, which is the same number.
inline uint32_t EncodeNormal(int dx, int dy) {
  // At most 13,015,000: exact in a float.
  const float s = static_cast<float>(100 * (dx * dx + dy * dy) + 10000);
  const float y0 = BitsAs<float>(0x5F3759DFu - (BitsAs<uint32_t>(s) >> 1));
  const double half = 0.5 * static_cast<double>(s);
  const double y0d = static_cast<double>(y0);
  const float y1 = static_cast<float>((1.5 - (half * y0d) * y0d) * y0d);
  const float x = static_cast<float>(-1280 * dx) * y1;  // 128 nx, exact
  const float y = static_cast<float>(-1280 * dy) * y1;  // 128 ny, exact
  const float z = 12800.0f * y1;                        // 128 nz, exact, positive
  // floor of a value in (−128, 128): truncate, then step down below zero.
  const int xi = static_cast<int>(x);
  const int yi = static_cast<int>(y);
  const uint32_t r = static_cast<uint32_t>(128 + xi - (x < static_cast<float>(xi)));
  const uint32_t g = static_cast<uint32_t>(128 + static_cast<int>(z));
  const uint32_t b = static_cast<uint32_t>(128 + yi - (y < static_cast<float>(yi)));
  return r | g << 8 | b << 16;
}

// Columns are processed in runs of this many pixels: the height differences
// of a run are gathered first and the texels computed into a local array, so
// that the arithmetic runs over plain arrays the buffer stores cannot alias.
constexpr int kRun = 256;

// Pixels are read and written as whole 32-bit words (R in the low byte on a
// little-endian machine, A in the high byte) so that the loops vectorise.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "texel words assume little-endian byte order");
constexpr uint32_t kAlphaMask = 0xFF000000u;

inline int Height(const uint8_t* row, int column) {
  uint32_t word;
  std::memcpy(&word, row + 4 * column, 4);
  return static_cast<int>(word >> 24);
}

}  // namespace

void GreyToAlpha(uint8_t* rgba, int width, int height) {
  const long count = static_cast<long>(width) * height;
  for (long p = 0; p < count; ++p) {
    uint8_t* px = rgba + 4 * p;
    px[3] = static_cast<uint8_t>((px[0] + px[1] + px[2]) / 3);
  }
}

void BuildNormalMap(int width, int height, uint8_t* rgba) {
  const long stride = 4L * width;
  int dx[kRun];
  int dy[kRun];
  uint32_t texel[kRun];
  for (int i = 0; i < height; ++i) {
    uint8_t* row = rgba + stride * i;
    const uint8_t* up = rgba + stride * (i == 0 ? height - 1 : i - 1);
    const uint8_t* down = rgba + stride * (i == height - 1 ? 0 : i + 1);
    for (int j0 = 0; j0 < width; j0 += kRun) {
      const int n = std::min(kRun, width - j0);
      // Inner columns first; the first and last column of the row wrap.
      const int first = j0 == 0 ? 1 : 0;
      const int last = j0 + n == width ? n - 1 : n;
      for (int k = first; k < last; ++k) {
        const int j = j0 + k;
        dx[k] = Height(row, j + 1) - Height(row, j - 1);
        dy[k] = Height(down, j) - Height(up, j);
      }
      for (int k : {0, n - 1}) {
        const int j = j0 + k;
        if (k >= first && k < last) continue;
        const int left = j == 0 ? width - 1 : j - 1;
        const int right = j == width - 1 ? 0 : j + 1;
        dx[k] = Height(row, right) - Height(row, left);
        dy[k] = Height(down, j) - Height(up, j);
      }
      for (int k = 0; k < n; ++k) texel[k] = EncodeNormal(dx[k], dy[k]);
      uint8_t* out = row + 4 * j0;
      for (int k = 0; k < n; ++k) {
        uint32_t word;
        std::memcpy(&word, out + 4 * k, 4);
        word = (word & kAlphaMask) | texel[k];
        std::memcpy(out + 4 * k, &word, 4);
      }
    }
  }
}
