#include "tools/assetgen/photos.h"

#include <algorithm>
#include <cmath>

#include "tools/assetgen/noise.h"

namespace sorvane::assetgen {
namespace {

constexpr float kTwoPi = 6.28318530717958647692f;

struct Rgb {
  float r, g, b;
};
inline Rgb operator*(Rgb c, float s) { return {c.r * s, c.g * s, c.b * s}; }
inline Rgb operator*(Rgb a, Rgb b) { return {a.r * b.r, a.g * b.g, a.b * b.b}; }
inline Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
inline Rgb Mix(Rgb a, Rgb b, float t) { return a + (b + a * -1.0f) * t; }

inline float Clamp01(float x) { return std::clamp(x, 0.0f, 1.0f); }
inline float Smooth(float e0, float e1, float x) {
  const float t = Clamp01((x - e0) / (e1 - e0));
  return t * t * (3.0f - 2.0f * t);
}

// Three-stop colour ramp over t in [0, 1].
inline Rgb Ramp(Rgb a, Rgb b, Rgb c, float t) {
  t = Clamp01(t);
  return t < 0.5f ? Mix(a, b, t * 2.0f) : Mix(b, c, t * 2.0f - 1.0f);
}

// Octaves from basePeriod until cells are about two pixels wide.
int OctavesFor(int basePeriod, int size) {
  int octaves = 0;
  for (int p = basePeriod; p * 2 <= size; p *= 2) ++octaves;
  return std::max(octaves, 1);
}

// Renders a shader (colour of the material at (u, v) on the unit torus).
template <typename Shade>
RgbImage Render(int size, uint32_t ditherSeed, Shade shade) {
  RgbImage image(size, size);
  const float inv = 1.0f / float(size);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const Rgb c = shade((float(x) + 0.5f) * inv, (float(y) + 0.5f) * inv);
      uint8_t* px = image.At(x, y);
      const float channel[3] = {c.r, c.g, c.b};
      for (int k = 0; k < 3; ++k) {
        // Triangular dither of up to one level breaks the quantisation
        // steps of smooth gradients; per pixel, so it tiles.
        const uint32_t h = HashLattice(x, y, ditherSeed + uint32_t(k));
        const float d = HashUnit(h) + HashUnit(h * 0x9e3779b9u) - 1.0f;
        const float v = Clamp01(channel[k]) * 255.0f + d;
        px[k] = uint8_t(std::clamp(std::lround(v), 0L, 255L));
      }
    }
  }
  return image;
}

// The relief source: its grey value becomes the height field of the demo's
// normal map, so the grey is shaped as height first. Stones are plateaus
// with a crisp lip and a short rounded shoulder into the cracks; their tops
// stay calm at the scale of a few dozen pixels (light veins, a slight swell)
// and carry their roughness in grain and pits finer than eight pixels. The
// three stone colours have nearly equal grey, so colour alone adds little
// height.
RgbImage Stone(int n) {
  const Fractal warpU{4, 5, 0.5f, 101}, warpV{4, 5, 0.5f, 131};
  const Fractal crackJitter{16, 3, 0.5f, 151};
  const Fractal veins{8, OctavesFor(8, n), 0.55f, 171};
  const Fractal swell{4, 3, 0.5f, 181};
  const Fractal grain{128, OctavesFor(128, n), 0.7f, 191};
  const Fractal hairlines{4, 5, 0.5f, 211};
  const Fractal mottle{8, 4, 0.5f, 231};
  const Fractal lichen{16, 4, 0.5f, 251};
  const Fractal pitting{128, OctavesFor(128, n), 0.5f, 261};
  const Rgb sand{0.86f, 0.70f, 0.48f}, ochre{0.92f, 0.64f, 0.40f}, ash{0.76f, 0.70f, 0.60f};
  const Rgb crackColour{0.17f, 0.11f, 0.07f}, lichenColour{0.56f, 0.60f, 0.60f};
  return Render(n, 0x5107e, [&](float u, float v) {
    const float wu = 0.045f * Fbm(warpU, u, v), wv = 0.045f * Fbm(warpV, u, v);
    const CellSample cell = Worley(u + wu, v + wv, 8, 0x570e);
    const float r1 = HashUnit(cell.cellId), r2 = HashUnit(HashLattice(int32_t(cell.cellId), 7, 3));
    // Cracks of varying width between the stones.
    const float crack = 0.008f + 0.012f * Clamp01(0.5f + Fbm(crackJitter, u, v));
    const float lip = Smooth(crack, crack + 0.02f, cell.border);
    const float shoulder = Smooth(crack, crack + 0.09f, cell.border);
    const float vein = Smooth(0.7f, 1.0f, RidgedFbm(veins, u + 0.5f * wu, v + 0.5f * wv));
    const float rise = Fbm(swell, u, v);
    const float fine = Fbm(grain, u, v);
    const float pits = Smooth(0.25f, 0.55f, Fbm(pitting, u, v));
    // Hairline fractures crossing the stones.
    const float hair = Smooth(0.93f, 0.99f, RidgedFbm(hairlines, u + wv, v + wu)) * shoulder;
    const float height =
        Clamp01(0.15f * lip + shoulder * (0.18f + 0.16f * r1 + 0.25f * vein + 0.05f * rise) +
                0.04f * fine - 0.06f * pits - 0.15f * hair);

    Rgb stone = r2 < 0.5f ? Mix(ash, sand, r2 * 2.0f) : Mix(sand, ochre, r2 * 2.0f - 1.0f);
    stone = Mix(stone, Mix(ash, ochre, 0.6f), Clamp01(0.25f + 0.8f * Fbm(mottle, u, v)));
    stone = Mix(stone, lichenColour, 0.3f * Smooth(0.3f, 0.65f, Fbm(lichen, u, v)));
    const Rgb lit = stone * (0.5f + 0.75f * height);
    return Mix(crackColour * (0.7f + 0.6f * Clamp01(0.5f + fine)), lit, lip);
  });
}

RgbImage Rust(int n) {
  Fractal brushed{2, OctavesFor(64, n) + 1, 0.7f, 301, 64};
  const Fractal steelMottle{4, 5, 0.5f, 311};
  const Fractal q1{4, 6, 0.5f, 321}, q2{4, 6, 0.5f, 331}, mask{4, OctavesFor(4, n), 0.52f, 341};
  const Fractal rustTone{16, OctavesFor(16, n), 0.6f, 351};
  const Fractal pitScatter{8, 3, 0.5f, 361};
  const Rgb steel{0.47f, 0.52f, 0.57f}, steelLight{0.66f, 0.70f, 0.73f};
  const Rgb rustDark{0.27f, 0.11f, 0.045f}, rustMid{0.63f, 0.28f, 0.085f},
      rustLight{0.86f, 0.55f, 0.22f};
  return Render(n, 0x2057, [&](float u, float v) {
    const float b = Fbm(brushed, u, v);
    Rgb metal = Mix(steel, steelLight, Clamp01(0.5f + 0.9f * b + 0.5f * Fbm(steelMottle, u, v)));
    const float w1 = Fbm(q1, u, v), w2 = Fbm(q2, u, v);
    const float m = Fbm(mask, u + 0.22f * w1, v + 0.22f * w2);
    const float tone = Fbm(rustTone, u, v);
    const float cover = Smooth(-0.06f, 0.10f, m + 0.12f * tone);
    // Corrosion pits: small, irregular and only here and there.
    const CellSample pits = Worley(u, v, 64, 0x9175);
    const float pitSize = 0.08f + 0.22f * Clamp01(Fbm(pitScatter, u, v) * 2.0f);
    const float pit = 1.0f - 0.4f * (1.0f - Smooth(0.0f, pitSize, pits.nearest)) * cover *
                                 Smooth(0.35f, 0.6f, HashUnit(pits.cellId));
    Rgb rust = Ramp(rustDark, rustMid, rustLight, 0.5f + 0.8f * tone + 0.6f * (m - 0.1f));
    const float rim = 1.0f - std::fabs(2.0f * cover - 1.0f);
    rust = rust * (1.0f - 0.35f * rim) * pit;
    metal = metal * (1.0f - 0.25f * Smooth(0.0f, 0.6f, rim));
    return Mix(metal, rust, cover);
  });
}

RgbImage Marble(int n) {
  const Fractal turb{2, OctavesFor(2, n), 0.5f, 401}, turb2{4, OctavesFor(4, n), 0.5f, 411};
  const Fractal clouding{4, 6, 0.5f, 421};
  const Rgb cream{0.97f, 0.92f, 0.82f}, honey{0.78f, 0.57f, 0.33f}, amber{0.52f, 0.28f, 0.10f};
  const Rgb slate{0.46f, 0.49f, 0.54f};
  return Render(n, 0x3a7b, [&](float u, float v) {
    const float t1 = Turbulence(turb, u, v), t2 = Turbulence(turb2, u, v);
    // Integer wave numbers keep the veins periodic over the image.
    const float s1 = std::fabs(std::sin(kTwoPi * (1.0f * u + 2.0f * v) + 9.0f * t1));
    const float s2 = std::fabs(std::sin(kTwoPi * (3.0f * u - 1.0f * v) + 7.0f * t2));
    const float vein = std::pow(1.0f - s1, 9.0f), halo = std::pow(1.0f - s1, 2.5f);
    const float fineVein = std::pow(1.0f - s2, 28.0f);
    Rgb c = Mix(cream, honey, Clamp01(0.35f + 1.4f * Fbm(clouding, u, v)));
    c = Mix(c, honey, 0.6f * halo);
    c = Mix(c, amber, 0.9f * vein);
    return Mix(c, slate, 0.6f * fineVein);
  });
}

RgbImage Cloud(int n) {
  const Fractal warpU{2, 4, 0.5f, 501}, warpV{2, 4, 0.5f, 511};
  const Fractal body{4, OctavesFor(4, n), 0.5f, 521};
  const Fractal tint{2, 3, 0.5f, 531};
  const Rgb shadow{0.55f, 0.55f, 0.65f}, cloud{1.0f, 0.94f, 0.84f}, glow{1.0f, 0.985f, 0.95f};
  return Render(n, 0xc10d, [&](float u, float v) {
    const float c = Fbm(body, u + 0.12f * Fbm(warpU, u, v), v + 0.12f * Fbm(warpV, u, v));
    const float density = Smooth(-0.35f, 0.45f, c);
    Rgb col = Ramp(shadow, cloud, glow, density);
    return Mix(col, col * Rgb{1.0f, 0.93f, 0.82f}, 0.4f * Clamp01(0.5f + Fbm(tint, u, v)));
  });
}

RgbImage Caustics(int n) {
  const Fractal warpU{3, 5, 0.5f, 601}, warpV{3, 5, 0.5f, 611};
  const Fractal depth{2, 4, 0.5f, 621};
  const Fractal ripple{32, OctavesFor(32, n), 0.55f, 631};
  const Rgb water{0.58f, 0.72f, 0.77f}, deep{0.40f, 0.52f, 0.60f}, light{1.0f, 0.97f, 0.86f};
  return Render(n, 0xca05, [&](float u, float v) {
    const float wu = 0.06f * Fbm(warpU, u, v), wv = 0.06f * Fbm(warpV, u, v);
    const CellSample a = Worley(u + wu, v + wv, 9, 0xa1);
    const CellSample b = Worley(u - wv * 1.3f, v + wu * 1.3f, 6, 0xb2);
    const float lineA = 1.0f - Smooth(0.0f, 0.09f, a.border);
    const float lineB = 1.0f - Smooth(0.0f, 0.07f, b.border);
    const float glowA = 1.0f - Smooth(0.0f, 0.35f, a.border);
    const float brightness =
        Clamp01(0.85f * lineA * lineA + 0.6f * lineB * lineB + 0.3f * glowA + 0.05f * Fbm(ripple, u, v));
    const Rgb base = Mix(deep, water, Clamp01(0.5f + Fbm(depth, u, v)));
    return Mix(base, light, brightness);
  });
}

RgbImage Bark(int n) {
  // Furrows are the zero lines of two noise fields that are long along the
  // trunk (v) and short across it (u); where the two sets meet, the furrows
  // split and merge around long plates.
  const Fractal sway{1, 3, 0.5f, 701, 4};
  const Fractal furrowsA{7, 3, 0.35f, 711, 1}, furrowsB{5, 3, 0.35f, 715, 1};
  const Fractal fibres{32, OctavesFor(32, n), 0.6f, 721, 2};
  const Fractal scales{16, OctavesFor(16, n), 0.55f, 731};
  const Fractal tone{4, 5, 0.5f, 741};
  const Rgb pale{0.97f, 0.92f, 0.81f}, warm{0.90f, 0.78f, 0.60f}, furrow{0.46f, 0.34f, 0.23f};
  return Render(n, 0xba4c, [&](float u, float v) {
    const float s = 0.05f * Fbm(sway, u, v);
    const float a = std::fabs(Fbm(furrowsA, u + s, v)), b = std::fabs(Fbm(furrowsB, u + s, v));
    const float width = 0.035f + 0.05f * Clamp01(0.5f + Fbm(tone, v, u));
    const float groove = std::min(Smooth(0.0f, width, a), Smooth(0.0f, width * 0.8f, b));
    const float fibre = Fbm(fibres, u + s, v);
    const float scale = RidgedFbm(scales, u, v);
    Rgb c = Mix(pale, warm, Clamp01(0.5f + 1.1f * Fbm(tone, u, v)));
    c = c * (0.88f + 0.16f * fibre) * (1.0f - 0.2f * scale * scale);
    // Plates round off into the furrows.
    return Mix(furrow * (0.8f + 0.3f * fibre), c, std::sqrt(groove));
  });
}

}  // namespace

RgbImage RenderPhoto(Photo photo, int size) {
  switch (photo) {
    case Photo::Stone: return Stone(size);
    case Photo::Rust: return Rust(size);
    case Photo::Marble: return Marble(size);
    case Photo::Cloud: return Cloud(size);
    case Photo::Caustics: return Caustics(size);
    case Photo::Bark: return Bark(size);
  }
  return RgbImage(size, size);
}

}  // namespace sorvane::assetgen
