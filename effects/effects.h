// effects.h — the two layers of the picture and the values time drives.
//
// What it is for: `fAbs` draws the relief strip (the photograph "311_18.jpg"
// lit through its own normal map, with "162_05.jpg" and "308_18.jpg", through
// the program "abs"); `fMask` multiplies a veil of "001_14.jpg", "003_14.jpg"
// and "003_01.jpg" over it (program "mask") and, from the credits' start
// (269 s) on, adds "credits.jpg" over the right half of the picture. Both
// see the strip through the same camera, which slides left as the music
// plays.
//
// How to use it: construct, `init` once with a current GL context (after
// ilInit), then `render(time)` once per frame, abs before mask, under the
// state contract of filter.h. The timeline functions below are the exact
// arithmetic both effects use, pure and callable without GL; their times
// and rates come from the score (effects/score_timeline.h, which the asset
// generator writes).
//
// How it fails: `init` throws ResourceError (gpu/texture.h) when an image
// cannot be loaded; a shader that fails to build still draws (the log says
// why), and a program without "t" or "fade" simply does not receive them.
#pragma once

#include "effects/filter.h"

struct ShaderProgram;
struct TextureHandle;

// The strip's horizontal translation at `time`: single-precision time,
// negated, times the single-precision slide (0.04).
float StripTranslationX(double time);
// The uniform "t": single-precision time times the single-precision time
// scale (0.3).
float TimeUniform(double time);
// The uniform "fade": rises until the fade-in's end (5 s), 1 until the
// fade-out's start (269 s), then falls by 0.1 per second without a floor (0
// at 279 s, negative after).
float FadeUniform(double time);
// Whether the credits pass runs, and its alpha (0 to 255).
bool CreditsDrawn(double time);
int CreditsAlpha(double time);

class fAbs : public filter {
 public:
  void init() override;
  void render(double time) override;

  ShaderProgram* program;
  TextureHandle* image1;  // "311_18.jpg"
  TextureHandle* image2;  // "162_05.jpg"
  TextureHandle* image3;  // "308_18.jpg"
  TextureHandle* relief;  // the normal map of "311_18.jpg"
  float* tValue;          // registry-owned; null: no uniform "t"
};

class fMask : public filter {
 public:
  void init() override;
  void render(double time) override;

  ShaderProgram* program;
  TextureHandle* image1;   // "001_14.jpg"
  TextureHandle* image2;   // "003_14.jpg"
  TextureHandle* image3;   // "003_01.jpg"
  TextureHandle* credits;  // "credits.jpg"
  float* tValue;           // registry-owned; null: no uniform "t"
  float* fadeValue;        // registry-owned; null: no uniform "fade"
};
